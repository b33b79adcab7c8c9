import QtQuick
import QtTest
import Korvo

// Settings sections per access mode, the recipient status marks, the data-use card without
// figures, and the text input's caret under binding updates.
TestCase {
    id: testCase
    name: "Forms"
    when: windowShown
    visible: true
    width: 600
    height: 600

    Component { id: settings; KorvoSettingsView {} }
    Component { id: mark; RecipientStatusMark {} }
    Component { id: card; DataConsumptionCard { width: 200 } }
    Component { id: input; MacTextInput { width: 300 } }

    function test_settingsInLocalMode() {
        KorvoStore.enterLocalMode()
        var shown = 0
        var view = createTemporaryObject(settings, testCase, { openMainWindow: function () { shown += 1 } })
        verify(findChild(view, "accessSection").visible)
        verify(!findChild(view, "accountSection").visible)
        compare(findChild(findChild(view, "versionRow"), "value").text,
                KorvoStore.version + " (" + KorvoStore.build + ")")
        // "Connect to Halvane" leaves local mode for the sign-in screen.
        compare(KorvoStore.accessMode, KorvoStore.Local)
        findChild(view, "connectToHalvane").clicked()
        compare(KorvoStore.accessMode, KorvoStore.Account)
        compare(KorvoStore.route, KorvoStore.Login)
        compare(shown, 1)
        // "Open Korvo" is the default button: Return triggers it.
        view.forceActiveFocus()
        keyClick(Qt.Key_Return)
        compare(shown, 2)
    }

    function test_settingsInAccountModeWithoutIdentity() {
        KorvoStore.leaveLocalMode()
        verify(!KorvoStore.hasIdentity)
        var view = createTemporaryObject(settings, testCase)
        verify(!findChild(view, "accessSection").visible)
        verify(!findChild(view, "accountSection").visible)
    }

    function test_statusMarks_data() {
        return [
            { tag: "idle", state: KorvoStore.Idle, help: "Enter a Korvo number", icon: "number", spinner: false },
            { tag: "checking", state: KorvoStore.Checking, help: "Checking Korvo", icon: "", spinner: true },
            { tag: "ready", state: KorvoStore.Ready, help: "Korvo ready", icon: "checkmark.circle.fill", spinner: false },
            { tag: "unavailable", state: KorvoStore.Unavailable, help: "Korvo unavailable", icon: "exclamationmark.circle.fill", spinner: false }
        ]
    }
    function test_statusMarks(data) {
        var m = createTemporaryObject(mark, testCase, { lookupState: data.state })
        compare(m.helpText, data.help)
        var icon = findChild(m, "statusIcon")
        compare(icon.visible, !data.spinner)
        if (!data.spinner)
            compare(icon.name, data.icon)
    }

    function test_dataUseWithoutFigures() {
        KorvoStore.leaveLocalMode()
        var c = createTemporaryObject(card, testCase)
        tryCompare(KorvoStore, "isDataConsumptionLoading", false)
        verify(!KorvoStore.hasDataConsumption)
        verify(!findChild(c, "gauges").visible)
        var missing = findChild(c, "dataUseMissing")
        verify(missing.visible)
        compare(missing.text, KorvoStore.dataConsumptionError.length > 0
                ? KorvoStore.dataConsumptionError : "Data use will appear here.")
        compare(findChild(c, "planName").text, "")
        KorvoStore.enterLocalMode()
    }

    function test_inputKeepsCaretOnEcho() {
        var t = createTemporaryObject(input, testCase, { placeholder: "Email" })
        t.field.forceActiveFocus()
        keyClick("a"); keyClick("b"); keyClick("c")
        compare(t.text, "abc")
        t.field.cursorPosition = 1
        t.text = "abc"
        compare(t.field.cursorPosition, 1)
        t.text = "xyz"
        compare(t.field.text, "xyz")
    }

    function test_secureInputHidesCharacters() {
        var t = createTemporaryObject(input, testCase, { isSecure: true, text: "secret12" })
        compare(t.field.echoMode, TextInput.Password)
        verify(t.field.displayText !== "secret12")
    }
}
