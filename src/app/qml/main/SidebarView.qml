import QtQuick
import Korvo

// Brand, account box, and either the invitation to connect (local mode) or the data-use card
// and the account actions (account mode).
Item {
    id: root
    property bool compact: false
    // Presents the account-deletion sheet while true.
    property bool isShowingAccountDeletion: false
    readonly property bool local: KorvoStore.accessMode === KorvoStore.Local

    MacVisualEffectView { anchors.fill: parent; material: "sidebar" }
    Rectangle { anchors.fill: parent; color: KorvoTheme.sidebar }

    Column {
        id: column
        anchors.fill: parent
        anchors.leftMargin: root.compact ? 13 : 15
        anchors.rightMargin: root.compact ? 13 : 15
        anchors.topMargin: 16
        anchors.bottomMargin: 18
        spacing: 16

        BrandHeader { width: parent.width }
        AccountBox { width: parent.width }
        InvitationPanel {
            objectName: "invitationPanel"
            visible: root.local
            width: parent.width
            compact: root.compact
        }
        DataConsumptionCard {
            objectName: "dataConsumptionCard"
            visible: !root.local
            width: parent.width
        }
        AccountActions {
            objectName: "accountSection"
            visible: !root.local
            width: parent.width
            onDeleteAccountRequested: root.isShowingAccountDeletion = true
        }
    }

    AccountDeletionSheet {
        isPresented: root.isShowingAccountDeletion
        onDismissed: root.isShowingAccountDeletion = false
    }
}
