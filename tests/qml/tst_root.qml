import QtQuick
import QtTest
import Korvo

// The root view: the screen for the route, the error alert and its dismissal.
TestCase {
    id: testCase
    name: "Root"
    when: windowShown
    visible: true
    width: 1240
    height: 760

    Component { id: rootView; RootView { width: 1240; height: 760 } }

    // One screen at a time: a second, hidden screen would take the keyboard's Tab and typing.
    function test_routeSwitch() {
        KorvoStore.enterLocalMode()
        var root = createTemporaryObject(rootView, testCase)
        var screens = findChild(root, "screens")
        compare(screens.depth, 1)
        verify(findChild(screens.currentItem, "sidebar") !== null)
        KorvoStore.leaveLocalMode()
        tryVerify(function () { return !screens.busy && findChild(screens.currentItem, "login-email") !== null })
        compare([screens.depth, screens.children.length], [1, 1])
        // The busy overlay is built only for a job.
        compare(findChild(root, "busyOverlay"), null)
        keyClick(Qt.Key_Tab)
        compare(testCase.Window.activeFocusItem.objectName, "startWithoutAccount")
    }

    function test_errorAlertClearsOnDismiss() {
        var root = createTemporaryObject(rootView, testCase)
        var alert = findChild(root, "errorAlert")
        KorvoStore.errorMessage = "The selected file could not be read."
        tryCompare(alert, "opened", true)
        compare(alert.message, "The selected file could not be read.")
        keyClick(Qt.Key_Escape)
        tryCompare(alert, "opened", false)
        compare(KorvoStore.errorMessage, "")
        // The same sentence can be shown again.
        KorvoStore.errorMessage = "The selected file could not be read."
        tryCompare(alert, "opened", true)
        KorvoStore.errorMessage = ""
        tryCompare(alert, "opened", false)
    }

    // An error raised while the deletion sheet is up shows in the sheet; the alert follows once
    // the sheet closes, and dismissing it clears the error.
    function test_alertWaitsForTheSheet() {
        KorvoStore.leaveLocalMode()
        KorvoStore.route = KorvoStore.Main
        var root = createTemporaryObject(rootView, testCase)
        var screens = findChild(root, "screens")
        tryVerify(function () { return screens.currentItem && findChild(screens.currentItem, "sidebarDeleteAccount") !== null })
        waitForRendering(root)
        mouseClick(findChild(screens.currentItem, "sidebarDeleteAccount"))
        verify(root.sheetShown)
        var alert = findChild(root, "errorAlert")
        KorvoStore.errorMessage = "That password is not correct."
        wait(50)
        verify(!alert.opened)
        keyClick(Qt.Key_Escape)
        tryCompare(root, "sheetShown", false)
        tryCompare(alert, "opened", true)
        keyClick(Qt.Key_Return)
        tryCompare(alert, "opened", false)
        compare(KorvoStore.errorMessage, "")
        KorvoStore.enterLocalMode()
    }
}
