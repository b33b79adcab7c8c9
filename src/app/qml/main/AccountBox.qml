import QtQuick
import Korvo

// Who is using Korvo here: this Mac alone, or the signed-in account.
Rectangle {
    id: root
    readonly property bool local: KorvoStore.accessMode === KorvoStore.Local
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
            KorvoText {
                id: title
                objectName: "accountTitle"
                width: parent.width
                text: root.local ? KorvoStore.platformText("On this Mac")
                                 : (KorvoStore.hasIdentity ? KorvoStore.identity.email : "Account")
                size: 13
                weight: Font.DemiBold
                // One line, shrinking towards 74 % before it is truncated, but never below the
                // caption under it.
                fontSizeMode: Text.HorizontalFit
                minimumPixelSize: Math.max(Math.ceil(13 * 0.74), caption.size)
                elide: Text.ElideRight
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
