import QtQuick
import QtTest
import Korvo

// The account screens and the deletion sheet driven with the keyboard, the settings sections,
// and the text input under binding updates.
TestCase {
    id: testCase
    name: "Forms"
    when: windowShown
    visible: true
    width: 900
    height: 1000

    Component { id: loginScreen; LoginView { width: 900; height: 1000 } }
    Component { id: createScreen; CreateAccountView { width: 900; height: 1000 } }
    Component { id: verifyScreen; VerifyOtpView { width: 900; height: 1000; email: "a@b.c"; password: "pw"; principalId: "p" } }
    Component { id: forgotScreen; ForgotPasswordView { width: 900; height: 1000 } }
    Component { id: resetScreen; ResetPasswordView { width: 900; height: 1000; email: "a@b.c" } }
    Component { id: sheetComponent; DeleteAccountView { isPresented: true } }
    Component { id: settings; KorvoSettingsView {} }
    Component { id: input; MacTextInput { width: 300 } }

    function child(root, name) { var found = findChild(root, name); verify(found !== null, "no child named " + name); return found }
    function typeInto(root, identifier, text) {
        var field = child(root, identifier)
        field.forceActiveFocus()
        for (const c of text)   // keys where the test can press them
            c.charCodeAt(0) < 128 ? keyClick(c) : field.insert(field.cursorPosition, c)
        compare(field.text, text)
    }
    function focusedName() { return testCase.Window.activeFocusItem?.objectName ?? "" }

    function init() { KorvoStore.leaveLocalMode(); KorvoStore.errorMessage = "" }

    // Each screen's button follows the fields it is given: every button starts disabled, and one
    // row per field a wrong wiring could ignore (the desktop run fills each form and sends it).
    function test_submitEnabled_data() {
        var pw = "abcdefgh"
        return [
            // Four thumbs up with a skin tone are four characters (eight code points): too short.
            { tag: "sign-in, four toned emoji", screen: loginScreen, fields: { "login-email": "a@b", "login-password": "\uD83D\uDC4D\uD83C\uDFFD".repeat(4) }, button: "signIn", enabled: false },
            { tag: "create, confirmation one character off", screen: createScreen, fields: { "create-email": "a@b", "create-password": pw, "create-confirm-password": "abcdefgX" }, button: "sendCode", enabled: false },
            { tag: "verify", screen: verifyScreen, fields: { "verify-otp": "1" }, button: "verifyAndContinue", enabled: true },
            { tag: "recover", screen: forgotScreen, fields: { "recover-email": "x@y" }, button: "sendResetCode", enabled: true },
            { tag: "reset, confirmation differs", screen: resetScreen, fields: { "reset-otp": "1", "reset-password": pw, "reset-confirm-password": pw + "9" }, button: "resetPassword", enabled: false }
        ]
    }
    function test_submitEnabled(data) {
        var view = createTemporaryObject(data.screen, testCase)
        verify(!child(view, data.button).enabled)
        for (var id in data.fields)
            typeInto(view, id, data.fields[id])
        compare(child(view, data.button).enabled, data.enabled)
    }

    // Tab walks the sign-in screen in reading order (the disabled "Sign in" is skipped), shows the
    // focus ring, and Space presses the focused button.
    function test_keyboardOnSignIn() {
        var view = createTemporaryObject(loginScreen, testCase)
        waitForRendering(view)
        view.forceActiveFocus()
        var seen = []
        for (var i = 0; i < 6; ++i) {
            keyClick(Qt.Key_Tab)
            seen.push(focusedName())
        }
        compare(seen, ["startWithoutAccount", "login-email", "login-password", "createAccountLink", "forgotPasswordLink",
                       "startWithoutAccount"])
        var ring = child(child(view, "startWithoutAccount"), "focusRing")
        tryVerify(function () { return ring.parent.visible })
        keyClick(Qt.Key_Space)
        compare(KorvoStore.accessMode, KorvoStore.Local)
    }

    // Return presses the screen's default button once the form may be sent, wherever the focus is.
    function test_returnSignsIn() {
        var view = createTemporaryObject(loginScreen, testCase)
        typeInto(view, "login-email", "a@b")
        keyClick(Qt.Key_Return)
        verify(KorvoStore.statusMessage !== "Unlocking your account...")
        typeInto(view, "login-password", "abcdefgh")
        keyClick(Qt.Key_Tab)
        compare(focusedName(), "signIn")
        keyClick(Qt.Key_Return)
        compare(KorvoStore.statusMessage, "Unlocking your account...")
        tryCompare(KorvoStore, "isBusy", false, 20000)
    }

    // The password step asks for 8 characters and the ticked box; Back from the code step clears
    // only the code; Escape closes; a new presentation starts empty (the desktop run goes through).
    function test_deletionSheetSteps() {
        var sheet = createTemporaryObject(sheetComponent, testCase)
        var dismissed = 0
        sheet.dismissed.connect(() => dismissed++)
        tryCompare(sheet, "opened", true)
        var send = child(sheet.contentItem, "sendConfirmationCode")
        typeInto(sheet.contentItem, "delete-account-password", "abcdefgh")
        verify(!send.enabled)
        keyClick(Qt.Key_Tab)
        compare(focusedName(), "understandsDeletion")
        keyClick(Qt.Key_Space)
        verify(sheet.understandsDeletion)
        verify(send.enabled)
        sheet.step = "confirmationCode"
        // The code field takes the focus by itself.
        tryCompare(testCase.Window, "activeFocusItem", findChild(sheet.contentItem, "delete-account-otp"))
        var confirm = child(sheet.contentItem, "confirmDeletion")
        for (var i = 0; i < 6; ++i)
            keyClick(" 12345".charAt(i))
        verify(!confirm.enabled)
        keyClick("6"); keyClick(" ")
        verify(confirm.enabled)
        mouseClick(child(sheet.contentItem, "backToPassword"))
        compare([sheet.step, sheet.otp, sheet.password, sheet.understandsDeletion], ["password", "", "abcdefgh", true])

        keyClick(Qt.Key_Escape)
        tryVerify(() => dismissed === 1)
        sheet.isPresented = false
        sheet.isPresented = true
        tryCompare(sheet, "opened", true)
        compare([sheet.step, sheet.password, sheet.understandsDeletion], ["password", "", false])
    }

    function test_deletionSheetWhileBusy() {
        var sheet = createTemporaryObject(sheetComponent, testCase)
        tryCompare(sheet, "opened", true)
        sheet.password = "abcdefgh"
        sheet.understandsDeletion = true
        var send = child(sheet.contentItem, "sendConfirmationCode")
        verify(send.enabled)
        sheet.busy = true
        compare([send.enabled, child(sheet.contentItem, "cancelDeletion").enabled], [false, true])
        sheet.forceActiveFocus()
        keyClick(Qt.Key_Escape)
        wait(50)
        verify(sheet.opened)
        sheet.step = "confirmationCode"
        sheet.otp = "123456"
        compare(["backToPassword", "sendNewCode", "confirmDeletion"].map(function (n) { return child(sheet, n).enabled }),
                [false, false, false])
    }

    // The settings' "Delete account..." presents the sheet (the sidebar's is driven end to end).
    function test_settingsDeleteOpensTheSheet() {
        var view = createTemporaryObject(settings, testCase)
        child(view, "deleteAccount").clicked()
        tryCompare(child(view, "deleteAccountSheet"), "opened", true)
    }

    function test_settingsInLocalMode() {
        KorvoStore.enterLocalMode()
        var shown = 0
        var closed = 0
        var view = createTemporaryObject(settings, testCase, { openMainWindow: function () { shown += 1 },
                                                               closeWindow: function () { closed += 1 } })
        compare([child(view, "accessSection").visible, child(view, "accountSection").visible], [true, false])
        // "Connect to Halvane" leaves local mode for the sign-in screen.
        child(view, "connectToHalvane").clicked()
        compare(KorvoStore.accessMode, KorvoStore.Account)
        compare(KorvoStore.route, KorvoStore.Login)
        compare(shown, 1)
        // "Open Korvo" is the default button: Return triggers it.
        view.forceActiveFocus()
        keyClick(Qt.Key_Return)
        compare(shown, 2)
        // Escape and Ctrl+W close the window.
        keyClick(Qt.Key_Escape)
        keyClick(Qt.Key_W, Qt.ControlModifier)
        compare(closed, 2)
        // Without an identity, account mode shows neither section.
        compare([child(view, "accessSection").visible, child(view, "accountSection").visible], [false, false])
    }

    function test_inputKeepsCaretOnEcho() {
        var t = createTemporaryObject(input, testCase, { placeholder: "Email" })
        t.field.forceActiveFocus()
        verify(t.editing)
        keyClick("a"); keyClick("b"); keyClick("c")
        compare(t.text, "abc")
        t.field.cursorPosition = 1
        t.text = "abc"
        compare(t.field.cursorPosition, 1)
        t.text = "xyz"
        compare(t.field.text, "xyz")
        t.isSecure = true
        verify(t.field.displayText !== "xyz")
    }

    // Auto-focus takes the focus on the next turn and again 0.2 s later (here from a control that
    // took it in between), and never after that.
    function test_autoFocusRetries() {
        var t = createTemporaryObject(input, testCase, { autoFocus: true })
        tryVerify(function () { return t.field.activeFocus }, 100)
        testCase.forceActiveFocus()
        verify(!t.field.activeFocus)
        tryVerify(function () { return t.field.activeFocus }, 400)
        testCase.forceActiveFocus()
        wait(400)
        verify(!t.field.activeFocus)
    }
}
