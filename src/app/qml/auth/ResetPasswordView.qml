import QtQuick
import Korvo

// The reset code and the new password, twice.
AuthShell {
    id: root
    property string email
    property string otp
    property string newPassword
    property string confirmPassword
    readonly property bool canSubmit: FormRules.canResetPassword(otp, newPassword, confirmPassword)
    title: "Reset password"
    subtitle: email
    defaultButton: reset

    MacTextInput {
        width: parent.width
        placeholder: "Code"
        identifier: "reset-otp"
        text: root.otp
        onTextChanged: root.otp = text
    }
    MacTextInput {
        width: parent.width
        placeholder: "New password"
        isSecure: true
        identifier: "reset-password"
        text: root.newPassword
        onTextChanged: root.newPassword = text
    }
    MacTextInput {
        width: parent.width
        placeholder: "Confirm password"
        isSecure: true
        identifier: "reset-confirm-password"
        text: root.confirmPassword
        onTextChanged: root.confirmPassword = text
    }
    PrimaryButton {
        id: reset
        objectName: "resetPassword"
        width: parent.width
        text: "Reset password"
        systemImage: "checkmark.seal"
        enabled: root.canSubmit
        onClicked: KorvoStore.resetPassword(root.email, root.otp, root.newPassword)
    }
    AuthLink {
        objectName: "backToSignIn"
        text: "Back to sign in"
        onClicked: KorvoStore.route = KorvoStore.Login
    }
}
