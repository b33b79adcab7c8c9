import QtQuick
import Korvo

// Account creation: e-mail, password twice, and the code is mailed.
AuthShell {
    id: root
    property string email
    property string password
    property string confirmPassword
    readonly property bool canSubmit: FormRules.canRegister(email, password, confirmPassword)
    title: "Create your account"
    subtitle: "We will email you a six-digit code to confirm it is you."
    defaultButton: send

    MacTextInput {
        width: parent.width
        placeholder: "Email"
        identifier: "create-email"
        text: root.email
        onTextChanged: root.email = text
    }
    MacTextInput {
        width: parent.width
        placeholder: "Password"
        isSecure: true
        identifier: "create-password"
        text: root.password
        onTextChanged: root.password = text
    }
    MacTextInput {
        width: parent.width
        placeholder: "Confirm password"
        isSecure: true
        identifier: "create-confirm-password"
        text: root.confirmPassword
        onTextChanged: root.confirmPassword = text
    }
    PasswordStrengthView {
        width: parent.width
        password: root.password
    }
    PrimaryButton {
        id: send
        objectName: "sendCode"
        width: parent.width
        text: "Send me the code"
        systemImage: "envelope"
        enabled: root.canSubmit
        onClicked: KorvoStore.registerAccount(root.email, root.password)
    }
    AuthLink {
        objectName: "backToSignIn"
        text: "Back to sign in"
        onClicked: KorvoStore.route = KorvoStore.Login
    }
    AuthFootnote {
        width: parent.width
        text: KorvoStore.platformText("Your files are protected by private access created on this Mac.")
    }
}
