import QtQuick
import Korvo

// Whom a file is locked for: the user's own Korvo or another person's Korvo number.
Rectangle {
    id: root
    readonly property bool forRecipient: KorvoStore.encryptionTarget === KorvoStore.Recipient
    readonly property bool isHovering: hover.hovered
    implicitHeight: 52
    radius: KorvoTheme.cornerRadius
    color: KorvoTheme.white(isHovering ? 0.045 : 0.025)
    border.width: 1
    border.color: KorvoTheme.border
    Behavior on color { ColorAnimation { duration: 200 } }

    HoverHandler { id: hover }

    // Restart the lookup whenever the number or the target changes.
    property string lookupRequest: KorvoStore.recipientLookupRequest
    onLookupRequestChanged: if (visible) KorvoStore.prepareRecipientKorvo()
    onVisibleChanged: if (visible) KorvoStore.prepareRecipientKorvo()

    Row {
        anchors.left: parent.left
        anchors.leftMargin: 14
        anchors.verticalCenter: parent.verticalCenter
        spacing: 14
        KorvoText {
            anchors.verticalCenter: parent.verticalCenter
            text: "Protect for"
            size: 14
            weight: Font.Bold
            color: "white"
            elide: Text.ElideNone
        }
        TargetSelector { anchors.verticalCenter: parent.verticalCenter }
    }

    Item {
        objectName: "recipientTrailing"
        anchors.right: parent.right
        anchors.rightMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        width: 142
        height: 32

        SymbolLabel {
            objectName: "ownKorvoLabel"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            opacity: root.forRecipient ? 0 : 1
            visible: opacity > 0
            Behavior on opacity { NumberAnimation { duration: 150 } }
            icon: "key.fill"
            text: KorvoStore.selectedSecretId !== undefined && KorvoStore.selectedSecretId !== null
                  ? "Korvo #" + KorvoStore.selectedSecretId : "No Korvo"
            size: 13
            weight: Font.DemiBold
            iconColor: KorvoTheme.accent
        }
        Row {
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            spacing: 8
            opacity: root.forRecipient ? 1 : 0
            // Reachable with Tab as soon as it is chosen, while it still fades in.
            visible: root.forRecipient || opacity > 0
            Behavior on opacity { NumberAnimation { duration: 150 } }
            RecipientSecretIDInput {
                objectName: "recipientField"
                width: 108
                height: 30
                lookupState: KorvoStore.recipientKorvoState
                text: KorvoStore.recipientSecretIdText
                onEdited: (digits) => KorvoStore.recipientSecretIdText = digits
            }
            RecipientStatusMark {
                anchors.verticalCenter: parent.verticalCenter
                lookupState: KorvoStore.recipientKorvoState
            }
        }
    }
}
