import QtQuick
import Korvo
import "../style/Format.js" as Format

// One finished operation: title, detail and the time of day.
Item {
    id: root
    property var item: ({})
    property bool showDivider: true
    implicitHeight: content.implicitHeight + 18

    Row {
        id: content
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        spacing: 9
        Icon {
            id: mark
            name: "checkmark.circle.fill"
            size: 15
            color: KorvoTheme.accent
            anchors.verticalCenter: parent.verticalCenter
        }
        Column {
            width: content.width - mark.width - time.width - 2 * content.spacing
            anchors.verticalCenter: parent.verticalCenter
            spacing: 2
            KorvoText {
                width: parent.width
                text: root.item.title || ""
                size: 12
                weight: Font.Bold
                color: "white"
            }
            KorvoText {
                width: parent.width
                text: root.item.detail || ""
                size: 10
                weight: Font.DemiBold
                color: KorvoTheme.textMuted
                // The interface font would join " -> " into an arrow glyph; keep the characters.
                font.preferShaping: false
            }
        }
        KorvoText {
            id: time
            anchors.verticalCenter: parent.verticalCenter
            text: Format.timeOfDay(root.item.date)
            size: 10
            weight: Font.DemiBold
            color: KorvoTheme.textDim
        }
    }
    Rectangle {
        visible: root.showDivider
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: KorvoTheme.white(0.05)
    }
}
