import QtQuick
import Korvo

// Asks for a password-reset code.
AuthShell {
    id: root
    property string email
    title: "Recover password"
    subtitle: "We will email a reset code."
    defaultButton: send

    MacTextInput {
        width: parent.width
        placeholder: "Email"
        identifier: "recover-email"
        text: root.email
        onTextChanged: root.email = text
    }
    PrimaryButton {
        id: send
        objectName: "sendResetCode"
        width: parent.width
        text: "Send reset code"
        systemImage: "envelope.badge"
        enabled: FormRules.canRequestReset(root.email)
        onClicked: KorvoStore.forgotPassword(root.email)
    }
    AuthLink {
        objectName: "backToSignIn"
        text: "Back to sign in"
        onClicked: KorvoStore.route = KorvoStore.Login
    }
}
