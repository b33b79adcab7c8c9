import QtQuick
import Korvo

// The "ACCOUNT" section: sign out, remove this Mac, delete the account.
Column {
    id: root
    signal deleteAccountRequested()
    spacing: 6

    KorvoText {
        text: "ACCOUNT"
        size: KorvoTheme.captionSize
        weight: Font.DemiBold
        color: KorvoTheme.secondaryText
        leftPadding: 4
    }
    Rectangle {
        width: parent.width
        height: actions.implicitHeight + 8
        radius: KorvoTheme.cornerRadius
        color: KorvoTheme.thinMaterial
        border.width: 1
        border.color: KorvoTheme.border

        Column {
            id: actions
            anchors.fill: parent
            anchors.margins: 4
            PlainActionButton {
                width: parent.width
                objectName: "signOut"
                text: "Sign out"
                systemImage: "rectangle.portrait.and.arrow.right"
                onClicked: KorvoStore.signOut(false)
            }
            PlainActionButton {
                width: parent.width
                objectName: "removeThisComputer"
                text: KorvoStore.platformText("Remove this Mac")
                systemImage: "desktopcomputer.trianglebadge.exclamationmark"
                destructive: true
                onClicked: KorvoStore.signOut(true)
            }
            Rectangle { width: parent.width; height: 1; color: KorvoTheme.white(0.08) }
            PlainActionButton {
                width: parent.width
                objectName: "sidebarDeleteAccount"
                text: "Delete account..."
                systemImage: "trash"
                destructive: true
                tint: KorvoTheme.withAlpha(KorvoTheme.red, 0.92)
                onClicked: root.deleteAccountRequested()
            }
        }
    }
}
