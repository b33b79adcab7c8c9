import QtQuick
import Korvo

// Who is using Korvo here: this Mac alone, or the signed-in account.
Rectangle {
    id: root
    readonly property bool local: KorvoStore.accessMode === KorvoStore.Local
    property string email: KorvoStore.hasIdentity ? KorvoStore.identity.email : ""
    implicitHeight: row.implicitHeight + 22
    radius: KorvoTheme.cornerRadius
    color: KorvoTheme.thinMaterial
    border.width: 1
    border.color: KorvoTheme.border

    Row {
        id: row
        anchors.fill: parent
        anchors.margins: 11
        spacing: 9

        Rectangle {
            id: badge
            width: 30; height: 30; radius: 15
            anchors.verticalCenter: parent.verticalCenter
            color: KorvoTheme.withAlpha(KorvoTheme.accent, 0.11)
            Icon {
                anchors.centerIn: parent
                name: root.local ? "desktopcomputer" : "person.crop.circle.fill"
                size: 16
                color: KorvoTheme.accent
            }
        }
        Column {
            width: row.width - badge.width - row.spacing
            anchors.verticalCenter: parent.verticalCenter
            spacing: 2
            // One line, shrinking towards 74 % before it is cut, and selectable (an address
            // to copy).
            Item {
                id: titleBox
                width: parent.width
                height: title.implicitHeight
                clip: true
                TextEdit {
                    id: title
                    objectName: "accountTitle"
                    anchors.verticalCenter: parent.verticalCenter
                    scale: Math.max(0.74, Math.min(1, titleBox.width / Math.max(1, implicitWidth)))
                    transformOrigin: Item.Left
                    width: titleBox.width / scale
                    text: root.local ? KorvoStore.platformText("On this Mac") : (root.email.length > 0 ? root.email : "Account")
                    readOnly: true
                    selectByMouse: true
                    wrapMode: TextEdit.NoWrap
                    font.family: KorvoTheme.fontFamily
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                    color: KorvoTheme.textPrimary
                    selectionColor: KorvoTheme.withAlpha(KorvoTheme.accent, 0.4)
                    selectedTextColor: KorvoTheme.textPrimary
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
            }
            KorvoText {
                id: caption
                width: parent.width
                text: root.local ? "No account required" : "Connected"
                size: 11
                weight: Font.Medium
                color: KorvoTheme.textMuted
            }
        }
    }
}
