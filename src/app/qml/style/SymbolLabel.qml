import QtQuick
import Korvo

// An icon followed by a line of text, the pair vertically centred.
Row {
    id: root
    property string icon
    property string text
    property real size: KorvoTheme.bodySize
    property real iconSize: size + 2
    property int weight: Font.DemiBold
    property color color: KorvoTheme.textPrimary
    property color iconColor: color
    property alias label: labelText
    spacing: 6

    Icon {
        name: root.icon
        size: root.iconSize
        color: root.iconColor
        anchors.verticalCenter: parent.verticalCenter
        visible: root.icon.length > 0
    }
    KorvoText {
        id: labelText
        text: root.text
        size: root.size
        weight: root.weight
        color: root.color
        anchors.verticalCenter: parent.verticalCenter
    }
}
