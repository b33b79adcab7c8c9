import QtQuick
import QtTest
import Korvo

// Workbench behaviour against the store: the main button's enabled state, the retitling in
// decrypt mode, the Korvo-number field's filter, and the selection list.
TestCase {
    id: testCase
    name: "Workbench"
    when: windowShown
    visible: true
    width: 1300
    height: 800

    Component { id: mainView; MainView { width: 1240; height: 760 } }
    Component { id: numberField; RecipientSecretIDInput { width: 108; height: 30 } }
    Component { id: filesView; SelectedFilesView { maxWidth: 500 } }

    function child(root, name) { var found = findChild(root, name); verify(found !== null, "no child named " + name); return found }

    function init() {
        KorvoStore.enterLocalMode()
        KorvoStore.mode = KorvoStore.Encrypt
        KorvoStore.selectedURLs = []
    }

    // The main button needs a selection and, in account mode, a usable key.
    function test_runButtonNeedsSelectionAndKey() {
        var run = child(createTemporaryObject(mainView, testCase), "runButton")
        verify(!run.enabled)
        KorvoStore.selectedURLs = ["/tmp/a.txt"]
        verify(run.enabled)
        KorvoStore.leaveLocalMode()
        KorvoStore.selectedURLs = ["/tmp/a.txt"]
        verify(!KorvoStore.activeSecretIsValid)
        verify(!run.enabled)
    }

    // The choice of Korvo shows only when locking in account mode ("Someone else" and its number
    // field are the desktop run's).
    function test_recipientOnlyWhenLockingWithAccount() {
        var slot = child(createTemporaryObject(mainView, testCase), "recipientSlot")
        compare(slot.height, 0)
        KorvoStore.leaveLocalMode()
        tryVerify(function () { return slot.height > 0 })
        KorvoStore.mode = KorvoStore.Decrypt
        tryCompare(slot, "height", 0)
    }

    // Typing into the number field keeps only numeric characters.
    function test_numberFieldFilter() {
        var edited = []
        var field = createTemporaryObject(numberField, testCase)
        field.edited.connect(function (digits) { edited.push(digits) })
        var input = field.input
        input.forceActiveFocus()
        keyClick("1"); keyClick("a"); keyClick("2"); keyClick("b"); keyClick("3")
        compare([input.text, edited[edited.length - 1]], ["123", "123"])
        input.selectAll()
        keyClick("x")
        compare([input.text, edited[edited.length - 1]], ["", ""])
    }

    // While typing, the focus ring lies on the field's outline: it takes the look-up's colour,
    // so a red (unavailable) outline is not hidden behind a green ring.
    function test_numberFieldRingKeepsTheLookUpColour_data() {
        return [{ tag: "idle", state: KorvoStore.Idle, color: KorvoTheme.accent },
                { tag: "unavailable", state: KorvoStore.Unavailable, color: KorvoTheme.destructive }]
    }
    function test_numberFieldRingKeepsTheLookUpColour(data) {
        var field = createTemporaryObject(numberField, testCase, { lookupState: data.state })
        field.input.forceActiveFocus()
        var ring = child(field, "recipientFocusRing")
        tryCompare(ring, "opacity", 1)
        verify(Qt.colorEqual(ring.color, data.color), String(ring.color))
    }

    function test_selectedFiles_data() {
        return [
            { tag: "none", paths: [], rows: [], more: "" },
            { tag: "three fit, folder and file icons", paths: ["/a/one.txt", "/a/two.txt", "/a/dir/"],
              rows: ["doc.fill one.txt", "doc.fill two.txt", "folder.fill dir"], more: "" },
            { tag: "five show three and + 2", paths: ["/1", "/2", "/3", "/4", "/5"],
              rows: ["doc.fill 1", "doc.fill 2", "doc.fill 3"], more: "+ 2 more" }
        ]
    }
    function test_selectedFiles(data) {
        var view = createTemporaryObject(filesView, testCase, { paths: data.paths })
        compare(findChild(view, "noFiles").visible, data.paths.length === 0)
        var list = findChild(view, "fileList")
        var rows = Array.from(list.children).filter((c) => c.icon !== undefined).map((c) => c.icon + " " + c.text)
        compare(rows, data.rows)
        compare(findChild(view, "moreFiles").visible, data.more.length > 0)
        compare(view.moreText, data.more)
    }
}
