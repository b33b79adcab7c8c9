import QtQuick
import QtTest
import Korvo

// The main window on both sides of the compact breakpoint, the rail's and the sidebar's texts,
// and the keyboard walk (the panels of each access mode are the desktop run's).
TestCase {
    id: testCase
    name: "Layout"
    when: windowShown
    visible: true
    width: 1300
    height: 800

    Component { id: mainView; MainView { height: 760 } }

    function child(root, name) { var found = findChild(root, name); verify(found !== null, "no child named " + name); return found }

    function initTestCase() { KorvoStore.enterLocalMode() }
    function cleanup() { KorvoStore.enterLocalMode() }

    // Resized from the initial width: sidebar, 1-point line, central column, 1-point line and
    // rail fill the row exactly on either side of the breakpoint.
    function test_rowFillsTheWindow_data() {
        return [{ tag: "minimum window", width: 980 }, { tag: "1139 is compact", width: 1139 },
                { tag: "1140 is regular", width: 1140 }, { tag: "initial window", width: 1240 }]
    }
    function test_rowFillsTheWindow(data) {
        var view = createTemporaryObject(mainView, testCase, { width: 1240 })
        view.width = data.width
        compare(view.compact, data.width < 1140)
        var central = child(view, "central")
        compare(central.x, child(view, "sidebar").width + 1)
        compare(central.x + central.width + 1 + child(view, "rail").width, data.width)
    }

    Component { id: accountBox; AccountBox {} }
    Component { id: summary; LocalProtectionSummary { width: 284; height: 400 } }

    // The account box of a 1100-point window: an address too long for it shrinks (not below 74 %)
    // until it fits, and can be selected.
    function test_accountTitleShrinksToFit() {
        KorvoStore.leaveLocalMode()
        var box = createTemporaryObject(accountBox, testCase, { width: 206 - 26, email: "alex.morgan@mail.com" })
        var title = child(box, "accountTitle")
        verify(title.implicitWidth > title.parent.width, "needs no shrinking: " + title.implicitWidth)
        verify(title.scale >= 0.74 && title.scale < 1, title.scale)
        verify(title.implicitWidth * title.scale <= title.parent.width + 0.5,
               title.implicitWidth + " at " + title.scale + " in " + title.parent.width)
        verify(title.selectByMouse && title.readOnly)
    }

    // A keyring sentence in the rail wraps within it.
    function test_keyringSentenceWraps() {
        var s = createTemporaryObject(summary, testCase)
        var line = child(s, "localReadiness")
        line.text = "No keyring is running, so Korvo cannot keep its key. Start your desktop's keyring (Secret Service) and try again."
        verify(line.label.lineCount > 1)
        verify(line.label.x + line.label.width <= s.width - 18)
    }

    // Keyboard only, in account mode: Tab visits the workbench, then the rail, then the sidebar,
    // every stop has an accessible name, and the walk comes back round to the start.
    function test_tabWalk() {
        KorvoStore.leaveLocalMode()
        KorvoStore.encryptionTarget = KorvoStore.Recipient
        var view = createTemporaryObject(mainView, testCase, { width: 1240 })
        view.forceActiveFocus()
        var stops = []
        for (var i = 0; i < 20; ++i) {
            keyClick(Qt.Key_Tab)
            var item = testCase.Window.activeFocusItem
            if (stops.length > 0 && item.objectName === stops[0])
                break
            verify(item.Accessible.name.length > 0, "no accessible name: " + item)
            stops.push(item.objectName)
        }
        compare(stops, ["modeLock", "modeOpen", "target0", "target1", "recipientInput", "chooseButton",
                        "refreshKorvos", "newKorvo", "settingsButton", "refreshDataUse", "signOut",
                        "removeThisComputer", "sidebarDeleteAccount"])
        KorvoStore.encryptionTarget = KorvoStore.Own
    }
}
