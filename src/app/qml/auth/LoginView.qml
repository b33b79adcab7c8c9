import QtQuick
import Korvo

// Sign-in, with the choice to start without an account.
AuthShell {
    id: root
    property string email
    property string password
    title: "Protect your files"
    subtitle: "Start instantly on this Mac. Connect only when you want online features."

    PrimaryButton {
        objectName: "startWithoutAccount"
        width: parent.width
        text: "Start Without an Account"
        systemImage: "desktopcomputer"
        onClicked: KorvoStore.enterLocalMode()
    }
    SymbolLabel {
        icon: "checkmark.circle.fill"
        iconColor: KorvoTheme.accent
        text: "No account, email, or internet required"
        size: KorvoTheme.captionSize + 1
        color: KorvoTheme.textMuted
    }
    MacTextInput {
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
        width: parent.width
        text: "Sign in"
        systemImage: "lock.open"
        enabled: root.email.trim().toLowerCase().indexOf("@") >= 0 && root.password.length >= 8
        onClicked: KorvoStore.login(root.email, root.password)
    }
}
