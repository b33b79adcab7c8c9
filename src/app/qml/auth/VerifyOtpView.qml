import QtQuick
import Korvo

// The six-digit code mailed after account creation.
AuthShell {
    id: root
    property string email
    property string password
    property string principalId
    property string otp
    title: "Verify email"
    subtitle: "Enter the six-digit code sent to " + email + "."
    defaultButton: verify

    MacTextInput {
        width: parent.width
        placeholder: "Code"
        identifier: "verify-otp"
        text: root.otp
        onTextChanged: root.otp = text
    }
    PrimaryButton {
        id: verify
        objectName: "verifyAndContinue"
        width: parent.width
        text: "Verify and continue"
        systemImage: "key"
        enabled: FormRules.canVerifyCode(root.otp)
        onClicked: KorvoStore.verifyOtpAndFinish(root.email, root.password, root.principalId, root.otp)
    }
    Item {
        width: parent.width
        height: resend.height
        AuthLink {
            id: resend
            objectName: "resendCode"
            anchors.left: parent.left
            text: "Resend code"
            onClicked: KorvoStore.resendOtp(root.email)
        }
        AuthLink {
            objectName: "back"
            anchors.right: parent.right
            text: "Back"
            onClicked: KorvoStore.route = KorvoStore.CreateAccount
        }
    }
}
