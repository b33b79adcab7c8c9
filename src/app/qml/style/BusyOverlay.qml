import QtQuick
import QtQuick.Controls.Basic
import Korvo

// Dims the whole window and shows the running operation's line in a centred card.
Rectangle {
    id: root
    property string message
    color: KorvoTheme.ultraThinMaterial

    Rectangle { anchors.fill: parent; color: KorvoTheme.black(0.34) }

    // Swallow pointer input so nothing underneath can be used while busy.
    MouseArea { anchors.fill: parent; hoverEnabled: true; acceptedButtons: Qt.AllButtons }

    SoftShadow { target: card; shadowOpacity: 0.32; radiusPoints: 12; offsetY: 4 }
    Rectangle {
        id: card
        anchors.centerIn: parent
        width: column.implicitWidth + 52
        height: column.implicitHeight + 44
        radius: 14
        color: KorvoTheme.regularMaterial
        border.width: 1
        border.color: KorvoTheme.border

        Column {
            id: column
            anchors.centerIn: parent
            spacing: 12
            Spinner {
                anchors.horizontalCenter: parent.horizontalCenter
                diameter: 28
            }
            KorvoText {
                objectName: "busyMessage"
                anchors.horizontalCenter: parent.horizontalCenter
                text: root.message
                size: 13
                weight: Font.DemiBold
                color: KorvoTheme.textPrimary
            }
        }
    }
}
