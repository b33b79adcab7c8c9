import QtQuick
import QtTest
import Korvo

// The account screens end to end, in one window, against the real store, bridge and reference
// service: sign-up with the mailed code, the signed-in main window, sign-out and sign-in with
// the remembered account, a password reset, and account deletion from the sidebar's sheet.
TestCase {
    id: testCase
    name: "AccountFlow"
    when: windowShown
    visible: true
    width: 1240
    height: 760

    readonly property string email: "e2e." + Date.now() + "@example.com"
    readonly property int slow: 30000
    property var root

    Component { id: rootView; RootView { width: 1240; height: 760 } }
    Component { id: settingsView; KorvoSettingsView {} }

    function screen() { return findChild(root, "screens").currentItem }
    function child(name) {
        var found = null
        tryVerify(function () { found = findChild(screen(), name); return found !== null && found.visible },
                  5000, "no visible " + name)
        return found
    }
    function typeInto(identifier, text) {
        var field = child(identifier)
        field.forceActiveFocus()
        for (var i = 0; i < text.length; ++i)
            keyClick(text.charAt(i))
        compare(field.text, text)
    }
    // Waits for the running operation and its overlay, then for the route it should have led to.
    function idle() {
        tryCompare(KorvoStore, "isBusy", false, slow)
        tryCompare(findChild(root, "busyOverlay"), "visible", false)
    }
    function settle(route) {
        idle()
        compare(KorvoStore.errorMessage, "")
        tryCompare(KorvoStore, "route", route, slow)
        // The screen takes input once its transition has finished.
        tryCompare(findChild(root, "screens"), "busy", false)
    }
    function mailedCode() {
        var code = ""
        tryVerify(function () { code = Outbox.latestCode(testCase.email); return code.length === 6 }, 5000)
        return code
    }

    function initTestCase() {
        KorvoStore.leaveLocalMode()
        // Lives through all the steps below.
        root = rootView.createObject(testCase)
        settle(KorvoStore.Login)
    }

    function test_1_signUp() {
        mouseClick(child("createAccountLink"))
        settle(KorvoStore.CreateAccount)
        typeInto("create-email", email)
        typeInto("create-password", "First-pass1")
        typeInto("create-confirm-password", "First-pass1")
        keyClick(Qt.Key_Return)
        settle(KorvoStore.VerifyOtp)
        compare(child("authSubtitle").text, "Enter the six-digit code sent to " + email + ".")
        typeInto("verify-otp", mailedCode())
        keyClick(Qt.Key_Return)
        settle(KorvoStore.Main)
        compare(KorvoStore.identity.email, email)
    }

    // The signed-in window: the e-mail in the header and the account box, the first Korvo
    // selected in the list, the usage figures in the sidebar; settings show the account.
    function test_2_mainWindow() {
        var settings = settingsView.createObject(testCase)
        verify(findChild(settings, "accountSection").visible)
        verify(!findChild(settings, "accessSection").visible)
        compare(findChild(findChild(settings, "accountSection"), "value").text, email)
        settings.destroy()
        compare(child("headerSubtitle").text, email)
        compare(child("accountTitle").text, email)
        tryVerify(function () { return KorvoStore.secrets.length > 0 }, slow)
        var rows = child("korvoRows")
        verify(rows.count > 0)
        verify(findChild(rows, "usedForNewFiles") !== null)
        tryVerify(function () { return KorvoStore.hasDataConsumption }, slow)
        verify(child("gauges").visible)
        // Refresh from the list's button runs through the store.
        mouseClick(child("refreshKorvos"))
        idle()
        compare(KorvoStore.errorMessage, "")
    }

    function test_3_signOutAndIn() {
        mouseClick(child("signOut"))
        settle(KorvoStore.Login)
        compare(child("rememberedEmail").text, email)
        verify(findChild(screen(), "login-email").visible === false)
        typeInto("login-password", "First-pass1")
        keyClick(Qt.Key_Return)
        settle(KorvoStore.Main)
    }

    function test_4_passwordReset() {
        mouseClick(child("signOut"))
        settle(KorvoStore.Login)
        mouseClick(child("forgotPasswordLink"))
        settle(KorvoStore.ForgotPassword)
        typeInto("recover-email", email)
        keyClick(Qt.Key_Return)
        settle(KorvoStore.ResetPassword)
        compare(child("authSubtitle").text, email)
        typeInto("reset-otp", mailedCode())
        typeInto("reset-password", "Second-pass2")
        typeInto("reset-confirm-password", "Second-pass2")
        keyClick(Qt.Key_Return)
        settle(KorvoStore.Login)
        // The old password no longer signs in; the new one does.
        typeInto("login-password", "First-pass1")
        keyClick(Qt.Key_Return)
        idle()
        verify(KorvoStore.errorMessage.length > 0)
        compare(KorvoStore.route, KorvoStore.Login)
        keyClick(Qt.Key_Escape)
        tryCompare(KorvoStore, "errorMessage", "")
        var field = child("login-password")
        field.forceActiveFocus()
        field.selectAll()
        keyClick(Qt.Key_Delete)
        typeInto("login-password", "Second-pass2")
        keyClick(Qt.Key_Return)
        settle(KorvoStore.Main)
    }

    function test_5_deleteAccount() {
        mouseClick(child("sidebarDeleteAccount"))
        var sheet = findChild(screen(), "deleteAccountSheet")
        tryCompare(sheet, "opened", true)
        var page = sheet.contentItem
        var password = findChild(page, "delete-account-password")
        password.forceActiveFocus()
        for (var i = 0; i < "Second-pass2".length; ++i)
            keyClick("Second-pass2".charAt(i))
        keyClick(Qt.Key_Tab)
        keyClick(Qt.Key_Space)
        keyClick(Qt.Key_Return)
        tryCompare(sheet, "step", "confirmationCode", slow)
        idle()
        compare(findChild(page, "sheetSubtitle").text, "Enter the six-digit code sent to " + email + ".")
        // The code field has the focus already.
        var code = mailedCode()
        for (i = 0; i < code.length; ++i)
            keyClick(code.charAt(i))
        keyClick(Qt.Key_Return)
        settle(KorvoStore.Login)
        verify(!KorvoStore.hasIdentity)
        verify(findChild(screen(), "login-email").visible)
    }
}
