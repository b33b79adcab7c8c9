import QtQuick
import Korvo

// A label on the left and its value on the right.
Item {
    property string label
    property string value
    width: parent ? parent.width : 0
    implicitHeight: Math.max(l.implicitHeight, v.implicitHeight) + 4
    KorvoText { id: l; anchors.verticalCenter: parent.verticalCenter; text: parent.label }
    KorvoText {
        id: v
        objectName: "value"
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        text: parent.value
        color: KorvoTheme.secondaryText
    }
}
