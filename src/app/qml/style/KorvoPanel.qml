import QtQuick
import Korvo

// Content inset by `padding` on a rounded panel of regular material under the panel fill,
// outlined and softly shadowed.
Item {
    id: root
    default property alias content: holder.data
    property real padding: 16
    implicitWidth: holder.childrenRect.width + 2 * padding
    implicitHeight: holder.childrenRect.height + 2 * padding

    SoftShadow { target: plate; shadowOpacity: 0.16; radiusPoints: 18; offsetY: 8 }
    Rectangle {
        id: plate
        anchors.fill: parent
        radius: 16
        color: KorvoTheme.regularMaterial
        Rectangle {
            anchors.fill: parent
            radius: parent.radius
            color: KorvoTheme.panel
            border.width: 1
            border.color: KorvoTheme.border
        }
    }
    Item {
        id: holder
        anchors.fill: parent
        anchors.margins: root.padding
    }
}
