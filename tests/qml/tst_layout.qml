import QtQuick
import QtTest
import Korvo

// The main window's widths on both sides of the compact breakpoint, in both access modes.
TestCase {
    id: testCase
    name: "Layout"
    when: windowShown
    visible: true
    width: 1300
    height: 800

    Component { id: mainView; MainView { height: 760 } }

    function child(root, name) {
        var found = findChild(root, name)
        verify(found !== null, "no child named " + name)
        return found
    }

    function initTestCase() {
        KorvoStore.enterLocalMode()
    }

    function test_widths_data() {
        return [
            { tag: "1139 is compact", width: 1139, sidebar: 206, rail: 252, button: 176, connect: "Connect", activity: 246 },
            { tag: "1140 is regular", width: 1140, sidebar: 228, rail: 284, button: 210, connect: "Go Halvane", activity: 270 },
            { tag: "minimum window", width: 980, sidebar: 206, rail: 252, button: 176, connect: "Connect", activity: 246 },
            { tag: "initial window", width: 1240, sidebar: 228, rail: 284, button: 210, connect: "Go Halvane", activity: 270 }
        ]
    }
    function test_widths(data) {
        var view = createTemporaryObject(mainView, testCase, { width: data.width })
        verify(view)
        compare(view.compact, data.width < 1140)
        compare(child(view, "sidebar").width, data.sidebar)
        compare(child(view, "rail").width, data.rail)
        compare(child(view, "runButton").width, data.button)
        compare(child(view, "connectButton").text, data.connect)
        compare(child(view, "activityView").height, data.activity)
        // Sidebar, 1-point line, central column, 1-point line, rail: the row fills the window.
        var central = child(view, "central")
        compare(central.x, data.sidebar + 1)
        compare(central.x + central.width + 1 + data.rail, data.width)
    }

    function test_resizeAcrossBreakpoint() {
        var view = createTemporaryObject(mainView, testCase, { width: 1140 })
        compare(child(view, "sidebar").width, 228)
        view.width = 1139
        compare(child(view, "sidebar").width, 206)
        compare(child(view, "rail").width, 252)
        compare(child(view, "connectButton").text, "Connect")
        view.width = 1140
        compare(child(view, "runButton").width, 210)
    }

    function test_localModePanels() {
        var view = createTemporaryObject(mainView, testCase, { width: 1240 })
        verify(child(view, "invitationPanel").visible)
        verify(!child(view, "accountSection").visible)
        verify(!child(view, "dataConsumptionCard").visible)
        compare(child(view, "railUpper").item.objectName, "localSummary")
        compare(child(view, "recipientSlot").height, 0)
        compare(child(view, "statusPill").text, "Local protection")
        compare(child(view, "headerSubtitle").text, KorvoStore.platformText("Strong offline protection on this Mac"))
        compare(child(view, "accountTitle").text, KorvoStore.platformText("On this Mac"))
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
        KorvoStore.enterLocalMode()
    }

    function test_accountModePanels() {
        KorvoStore.leaveLocalMode()
        var view = createTemporaryObject(mainView, testCase, { width: 1240 })
        verify(!child(view, "invitationPanel").visible)
        verify(child(view, "accountSection").visible)
        compare(child(view, "railUpper").item.objectName, "korvoList")
        compare(child(view, "statusPill").text, "Protection ready")
        compare(child(view, "headerSubtitle").text, "Signed in")
        compare(child(view, "accountTitle").text, "Account")
        // Without Korvos the list is empty and "New Korvo" stays available.
        verify(child(view, "noKorvos").visible)
        verify(child(view, "newKorvo").enabled)
        KorvoStore.enterLocalMode()
    }
}
