import QtQuick
import QtQuick.Controls.Basic
import Korvo

// Dims the whole window over its blurred content and shows the running operation's line in a
// centred card. While it has focus it swallows keys, so nothing underneath can be used.
FocusScope {
    id: root
    property string message
    // The content to blur underneath; it must cover the same area as the overlay.
    property Item backdrop
    Accessible.role: Accessible.ProgressBar
    Accessible.name: message

    BackdropBlur { anchors.fill: parent; content: root.backdrop; visible: root.backdrop !== null }
    Rectangle { anchors.fill: parent; color: KorvoTheme.ultraThinMaterial }
    Rectangle { anchors.fill: parent; color: KorvoTheme.black(0.34) }

    // Swallow pointer input and keys.
    MouseArea { anchors.fill: parent; hoverEnabled: true; acceptedButtons: Qt.AllButtons }
    Keys.onPressed: (event) => event.accepted = true

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
