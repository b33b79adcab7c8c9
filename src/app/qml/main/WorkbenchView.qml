import QtQuick
import Korvo

// Mode switch, recipient chooser, drop zone, actions and the status line.
Column {
    id: root
    property bool compact: false
    readonly property bool encrypt: KorvoStore.mode === KorvoStore.Encrypt
    readonly property bool showsRecipient: encrypt && KorvoStore.accessMode === KorvoStore.Account
    spacing: compact ? 16 : 20

    Item {
        width: parent.width
        height: modeSwitch.height
        ModeSegmentControl { id: modeSwitch }
        ActiveKeyCapsule {
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
        }
    }

    // Fades in while moving down from the top edge; collapses when hidden.
    Item {
        id: recipientSlot
        objectName: "recipientSlot"
        width: parent.width
        height: root.showsRecipient ? recipient.implicitHeight : 0
        visible: height > 0 || recipient.opacity > 0
        clip: true
        Behavior on height { NumberAnimation { duration: 280; easing.type: Easing.OutCubic } }
        EncryptionRecipientView {
            id: recipient
            width: parent.width
            y: root.showsRecipient ? 0 : -implicitHeight / 2
            opacity: root.showsRecipient ? 1 : 0
            Behavior on y { NumberAnimation { duration: 280; easing.type: Easing.OutCubic } }
            Behavior on opacity { NumberAnimation { duration: 280; easing.type: Easing.OutCubic } }
        }
    }

    DropZoneView { width: parent.width }
    ActionRow { width: parent.width; compact: root.compact }
    StatusRow { width: parent.width }
}
