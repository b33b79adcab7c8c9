import QtQuick
import QtTest
import Korvo

// Status panels drawn from given figures: the usage gauge, the Korvo row, the activity list.
TestCase {
    id: testCase
    name: "Panels"
    when: windowShown
    visible: true
    width: 600
    height: 600

    Component { id: gauge; UsageGauge { width: 200; title: "Protect"; systemImage: "lock.fill" } }
    Component { id: row; SecretRow { width: 240 } }
    Component { id: activity; ActivityView { width: 284; height: 270 } }
    Component { id: alertComponent; ErrorAlert {} }
    Component {
        id: coveredWindow
        Item {
            width: 300; height: 200
            property int presses: 0
            MouseArea { anchors.fill: parent; onClicked: parent.presses++ }
            BusyOverlay { objectName: "overlay"; anchors.fill: parent; message: "Unlocking your account..."; opacity: 0.5 }
        }
    }

    // The overlay takes every press while the work runs; once the store is done, a press made
    // while the overlay fades out reaches the window it uncovers.
    function test_overlayHoldsPressesOnlyWhileWorking_data() {
        return [{ tag: "working", holds: true, presses: 0 }, { tag: "fading out", holds: false, presses: 1 }]
    }
    function test_overlayHoldsPressesOnlyWhileWorking(data) {
        var window = createTemporaryObject(coveredWindow, testCase)
        findChild(window, "overlay").holdsInput = data.holds
        mouseClick(window, 20, 20)
        compare(window.presses, data.presses)
    }

    // The ratio thresholds are tabled in the Format tests; here each tint reaches the fill.
    function test_gaugeFillAndTint_data() {
        return [
            { tag: "limit 0 is empty accent", used: 900, limit: 0, fill: 0, tint: KorvoTheme.accent },
            { tag: "0.7 yellow", used: 70, limit: 100, fill: 0.7, tint: KorvoTheme.warning },
            { tag: "1.3 full destructive", used: 130, limit: 100, fill: 1, tint: KorvoTheme.destructive },
            { tag: "negative used is empty", used: -10, limit: 100, fill: 0, tint: KorvoTheme.accent },
            { tag: "tiny use still shows", used: 1, limit: 1e12, fill: 1e-12, tint: KorvoTheme.accent }
        ]
    }
    function test_gaugeFillAndTint(data) {
        var stats = { used: data.used, limit: data.limit, remaining: data.limit - data.used, count: 2, requestLimit: 500, rateLimit: 1 }
        var g = createTemporaryObject(gauge, testCase, { stats: stats })
        var fill = findChild(g, "gaugeFill")
        tryCompare(g, "shownFraction", data.fill)
        compare(g.tint, data.tint)
        fuzzyCompare(fill.width, data.fill > 0 ? Math.max(2, findChild(g, "gaugeTrack").width * data.fill) : 0, 0.01)
        compare(fill.visible, data.fill > 0)
    }

    // The selected row is marked, a syncing one shows the hourglass; Korvo numbers beyond 2^31
    // read, match the selection and are handed on whole when tapped.
    function test_secretRow_data() {
        return [
            { tag: "selected", id: 25, selected: 25, syncing: 0, icon: "key.fill" },
            { tag: "none selected", id: 31, selected: undefined, icon: "key.fill" },
            { tag: "syncing", id: 25, selected: 25, syncing: 1, icon: "hourglass" },
            { tag: "past 2^31", id: 3000000001, selected: 3000000001, icon: "key.fill" },
            { tag: "past 2^32", id: 4294967321, selected: 25, icon: "key.fill" }
        ]
    }
    function test_secretRow(data) {
        var secret = { secretId: data.id, ownerPrincipalId: "p", clusterId: 1 }
        if (data.syncing !== undefined)
            secret.isSyncing = data.syncing
        var r = createTemporaryObject(row, testCase, { secret: secret, selectedSecretId: data.selected })
        var marks = data.id === data.selected
        compare([r.isSelected, findChild(r, "usedForNewFiles").visible, findChild(r, "selectedCheck").visible],
                [marks, marks, marks])
        compare(findChild(r, "secretIcon").name, data.icon)
        compare(r.Accessible.name, "Korvo #" + data.id)
        var tapped = []
        r.activated.connect((id) => tapped.push(id))
        mouseClick(r)
        compare(tapped, [data.id])
    }

    // Empty, one entry, and fifty: a long list scrolls with a visible bar and stops short of the
    // window's edge.
    function test_activityList() {
        var a = createTemporaryObject(activity, testCase, { items: [] })
        var shown = function () { return ["activityEmpty", "activityList", "activityScrollBar"].map(function (n) { return findChild(a, n).visible }) }
        compare(shown(), [true, false, false])
        var entry = { id: "1", title: "Locked", detail: "a.jpg -> a.jpg.korvo", date: new Date() }
        a.items = [entry]
        compare(shown(), [false, true, false])
        a.items = Array(50).fill(entry)
        tryVerify(function () { return shown()[2] })
        var list = findChild(a, "activityList")
        verify(list.y + list.height <= a.height - 10)
    }

    // A service sentence is shown as typed: markup in it is text, never formatting.
    function test_serviceSentenceIsPlainText() {
        var sentence = "Quota <b>x</b><br>y"
        var a = createTemporaryObject(alertComponent, testCase, { message: sentence })
        var shown = findChild(a.contentItem, "alertMessage")
        tryCompare(a, "opened", true)
        compare(shown.text, sentence)
        compare(shown.lineCount, 1)
        verify(shown.contentWidth > shown.font.pixelSize * 6, "the tags take room as characters")
    }
}
