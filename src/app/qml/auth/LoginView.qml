import QtQuick
import Korvo

// Sign-in, with the choice to start without an account.
AuthShell {
    id: root
    property string email
    property string password
    // The account remembered on this computer, when there is one: it replaces the e-mail field.
    property string rememberedEmail: KorvoStore.hasIdentity ? KorvoStore.identity.email : ""
    readonly property bool hasRemembered: rememberedEmail.length > 0
    readonly property string signInEmail: hasRemembered ? rememberedEmail : email
    readonly property bool canSubmit: FormRules.canSignIn(signInEmail, password)
    title: "Protect your files"
    subtitle: KorvoStore.platformText("Start instantly on this Mac. Connect only when you want online features.")
    defaultButton: signIn

    // On appearance the e-mail is the remembered one, or empty.
    Component.onCompleted: email = rememberedEmail

    PrimaryButton {
        objectName: "startWithoutAccount"
        width: parent.width
        text: "Start Without an Account"
        systemImage: "desktopcomputer"
        onClicked: KorvoStore.enterLocalMode()
    }
    SymbolLabel {
        width: parent.width
        icon: "checkmark.circle.fill"
        iconColor: KorvoTheme.accent
        text: "No account, email, or internet required"
        size: KorvoTheme.captionSize + 1
        color: KorvoTheme.textMuted
    }
    Row {
        width: parent.width
        spacing: 10
        topPadding: 4
        bottomPadding: 4
        Rectangle {
            width: (parent.width - optional.width - 2 * parent.spacing) / 2
            height: 1
            anchors.verticalCenter: parent.verticalCenter
            color: KorvoTheme.border
        }
        KorvoText {
            id: optional
            text: "Optional: connect for sharing and recovery"
            size: KorvoTheme.captionSize + 1
            weight: Font.DemiBold
            color: KorvoTheme.textDim
        }
        Rectangle {
            width: (parent.width - optional.width - 2 * parent.spacing) / 2
            height: 1
            anchors.verticalCenter: parent.verticalCenter
            color: KorvoTheme.border
        }
    }
    RememberedAccountRow {
        visible: root.hasRemembered
        width: parent.width
        email: root.rememberedEmail
    }
    MacTextInput {
        visible: !root.hasRemembered
        width: parent.width
        placeholder: "Email"
        identifier: "login-email"
        text: root.email
        onTextChanged: root.email = text
    }
    MacTextInput {
        width: parent.width
        placeholder: "Password"
        isSecure: true
        identifier: "login-password"
        text: root.password
        onTextChanged: root.password = text
    }
    PrimaryButton {
        id: signIn
        objectName: "signIn"
        width: parent.width
        text: "Sign in"
        systemImage: "lock.open"
        enabled: root.canSubmit
        onClicked: KorvoStore.login(root.signInEmail, root.password)
    }
    Item {
        width: parent.width
        height: createLink.height
        AuthLink {
            id: createLink
            objectName: "createAccountLink"
            anchors.left: parent.left
            text: "Create account"
            onClicked: KorvoStore.route = KorvoStore.CreateAccount
        }
        AuthLink {
            objectName: "forgotPasswordLink"
            anchors.right: parent.right
            text: "Forgot password"
            onClicked: KorvoStore.route = KorvoStore.ForgotPassword
        }
    }
    AuthFootnote {
        width: parent.width
        text: KorvoStore.platformText("Connecting activates post-quantum protection, secure sharing, and recovery across Macs.")
    }
}
