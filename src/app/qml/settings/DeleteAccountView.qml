import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Korvo

// The two-step account deletion sheet: the password (and the acknowledgement) asks the service
// for a code; the code deletes the account. Shown while `isPresented`; every presentation
// starts at the password step with empty fields. Closing it reports `dismissed` so the
// presenter can clear its flag. It cannot be dismissed with Escape while a step runs.
Popup {
    id: sheet
    property bool isPresented: false
    signal dismissed()

    // "password" or "confirmationCode".
    property string step: "password"
    property string password
    property string otp
    property bool understandsDeletion: false
    // A deletion step is running (the store's busy flag).
    property bool busy: KorvoStore.isBusy
    readonly property string identityEmail: KorvoStore.hasIdentity ? KorvoStore.identity.email : ""
    readonly property bool canSendCode: FormRules.canRequestDeletion(password, understandsDeletion, busy)
    readonly property bool canDelete: FormRules.canConfirmDeletion(otp, busy)

    objectName: "deleteAccountSheet"
    parent: T.Overlay.overlay
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: 0
    width: 520
    padding: 28
    modal: true
    focus: true
    closePolicy: busy ? Popup.NoAutoClose : Popup.CloseOnEscape

    onIsPresentedChanged: if (isPresented) open(); else close()
    Component.onCompleted: if (isPresented) open()
    onAboutToShow: {
        step = "password"
        password = ""
        otp = ""
        understandsDeletion = false
    }
    onClosed: dismissed()

    function sendCode(moveOn) {
        KorvoStore.requestAccountDeletion(sheet.password).then(function (sent) {
            if (sent && moveOn && sheet.opened)
                sheet.step = "confirmationCode"
        })
    }
    function deleteAccount() {
        KorvoStore.confirmAccountDeletion(sheet.otp).then(function (deleted) {
            if (deleted)
                sheet.close()
        })
    }
    function pressDefault() {
        if (step === "password" && canSendCode)
            sendCode(true)
        else if (step === "confirmationCode" && canDelete)
            deleteAccount()
    }

    enter: Transition {
        ParallelAnimation {
            NumberAnimation { property: "y"; from: -40; to: 0; duration: 200; easing.type: Easing.OutCubic }
            NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 200; easing.type: Easing.OutCubic }
        }
    }
    exit: Transition {
        NumberAnimation { property: "opacity"; from: 1; to: 0; duration: 150; easing.type: Easing.InCubic }
    }

    T.Overlay.modal: Item {
        BackdropBlur { anchors.fill: parent }
        Rectangle { anchors.fill: parent; color: KorvoTheme.black(0.32) }
    }
    background: Item {
        SoftShadow { target: plate; shadowOpacity: 0.45; radiusPoints: 24; offsetY: 8 }
        // Hangs from the window's top edge: its upper corners lie beyond it.
        Rectangle {
            id: plate
            objectName: "sheetPlate"
            anchors.fill: parent
            anchors.topMargin: -radius
            radius: 12
            color: Qt.rgba(0.13, 0.14, 0.14, 0.98)
            border.width: 1
            border.color: KorvoTheme.strongBorder
        }
    }

    contentItem: FocusScope {
        implicitHeight: column.implicitHeight
        Accessible.role: Accessible.Dialog
        Accessible.name: title.text
        Keys.onReturnPressed: sheet.pressDefault()
        Keys.onEnterPressed: sheet.pressDefault()

        Column {
            id: column
            width: parent.width
            spacing: 22

            Row {
                width: parent.width
                spacing: 14
                // The trash in a filled red circle.
                Rectangle {
                    id: mark
                    anchors.verticalCenter: parent.verticalCenter
                    width: 40
                    height: 40
                    radius: 20
                    color: KorvoTheme.red
                    Icon {
                        anchors.centerIn: parent
                        name: "trash.fill"
                        size: 23
                        color: "white"
                    }
                }
                Column {
                    width: parent.width - mark.width - parent.spacing
                    anchors.verticalCenter: parent.verticalCenter
                    spacing: 4
                    KorvoText {
                        id: title
                        objectName: "sheetTitle"
                        width: parent.width
                        text: sheet.step === "password" ? "Delete your account" : "Check your email"
                        size: 24
                        weight: Font.DemiBold
                    }
                    KorvoText {
                        objectName: "sheetSubtitle"
                        width: parent.width
                        text: sheet.step === "password" ? "This action requires email confirmation."
                                                         : FormRules.deletionCodeSubtitle(sheet.identityEmail)
                        color: KorvoTheme.textMuted
                        wrapMode: Text.Wrap
                        elide: Text.ElideNone
                    }
                }
            }

            Rectangle { width: parent.width; height: 1; color: KorvoTheme.white(0.1) }

            // The two steps cross-fade in one place while the sheet takes the new step's
            // height, both over 0.2 s, easing in and out.
            Item {
                id: steps
                objectName: "deletionSteps"
                width: parent.width
                height: (sheet.step === "password" ? passwordStep : codeStep).implicitHeight
                clip: true
                Behavior on height { NumberAnimation { duration: 200; easing.type: Easing.InOutQuad } }

                // Password step.
                Column {
                    id: passwordStep
                    objectName: "passwordStep"
                    opacity: sheet.step === "password" ? 1 : 0
                    visible: opacity > 0
                    Behavior on opacity { NumberAnimation { duration: 200; easing.type: Easing.InOutQuad } }
                    width: parent.width
                    spacing: 16
                    KorvoText {
                        width: parent.width
                        text: KorvoStore.platformText("Deleting signs you out, removes this Mac's saved access, and makes your account unavailable. Some security records may be retained when required by law.")
                        size: 14
                        wrapMode: Text.Wrap
                        elide: Text.ElideNone
                    }
                    MacTextInput {
                        width: parent.width
                        placeholder: "Account password"
                        isSecure: true
                        identifier: "delete-account-password"
                        text: sheet.password
                        onTextChanged: sheet.password = text
                    }
                    KorvoCheckBox {
                        objectName: "understandsDeletion"
                        width: parent.width
                        text: "I understand that I will lose access to this account."
                        checked: sheet.understandsDeletion
                        onToggled: sheet.understandsDeletion = checked
                    }
                    RowLayout {
                        width: parent.width
                        spacing: 8
                        SettingsButton {
                            objectName: "cancelDeletion"
                            text: "Cancel"
                            onClicked: sheet.close()
                        }
                        Item { Layout.fillWidth: true }
                        Spinner { diameter: 16; visible: sheet.busy }
                        SettingsButton {
                            objectName: "sendConfirmationCode"
                            text: "Send confirmation code"
                            prominent: true
                            destructive: true
                            enabled: sheet.canSendCode
                            onClicked: sheet.sendCode(true)
                        }
                    }
                }

                // Confirmation step.
                Column {
                    id: codeStep
                    objectName: "codeStep"
                    opacity: sheet.step === "confirmationCode" ? 1 : 0
                    visible: opacity > 0
                    Behavior on opacity { NumberAnimation { duration: 200; easing.type: Easing.InOutQuad } }
                    width: parent.width
                    spacing: 16
                    KorvoText {
                        width: parent.width
                        text: KorvoStore.platformText("After confirmation, the saved account access and recent activity on this Mac will be removed.")
                        size: 14
                        wrapMode: Text.Wrap
                        elide: Text.ElideNone
                    }
                    Loader {
                        // Built when the step is shown, so the field focuses itself then.
                        width: parent.width
                        active: sheet.step === "confirmationCode"
                        sourceComponent: MacTextInput {
                            placeholder: "Six-digit code"
                            identifier: "delete-account-otp"
                            autoFocus: true
                            text: sheet.otp
                            onTextChanged: sheet.otp = text
                        }
                    }
                    RowLayout {
                        width: parent.width
                        spacing: 8
                        SettingsButton {
                            objectName: "backToPassword"
                            text: "Back"
                            enabled: !sheet.busy
                            onClicked: {
                                sheet.otp = ""
                                sheet.step = "password"
                            }
                        }
                        SettingsButton {
                            objectName: "sendNewCode"
                            text: "Send a new code"
                            plain: true
                            enabled: !sheet.busy
                            onClicked: sheet.sendCode(false)
                        }
                        Item { Layout.fillWidth: true }
                        Spinner { diameter: 16; visible: sheet.busy }
                        SettingsButton {
                            objectName: "confirmDeletion"
                            text: "Delete Account"
                            prominent: true
                            destructive: true
                            enabled: sheet.canDelete
                            onClicked: sheet.deleteAccount()
                        }
                    }
                }
            }

            SymbolLabel {
                objectName: "sheetError"
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                visible: KorvoStore.errorMessage.length > 0
                width: parent.width
                icon: "exclamationmark.triangle.fill"
                text: KorvoStore.errorMessage
                size: 13
                weight: Font.Medium
                color: KorvoTheme.red
                label.width: width - iconSize - spacing
                label.wrapMode: Text.Wrap
                label.elide: Text.ElideNone
            }
        }
    }
}
