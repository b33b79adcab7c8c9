import QtQuick
import QtTest
import "qrc:/Korvo/qml/style/Format.js" as Format

// Formatting rules of the status panels and the workbench, and the account forms' rules, at
// their boundaries.
TestCase {
    name: "Format"

    function test_byteCounts_data() {
        return [
            { tag: "zero", value: 0, text: "Zero KB" },
            { tag: "rounds below half a byte to zero", value: 0.4, text: "Zero KB" },
            { tag: "NaN reads as zero", value: NaN, text: "Zero KB" },
            { tag: "one byte is never nothing", value: 1, text: "1 KB" },
            { tag: "1023 KB stays in KB", value: 1023 * 1024, text: "1,023 KB" },
            { tag: "1 MB", value: 1048576, text: "1 MB" },
            { tag: "one MB digit", value: 1.5 * 1048576, text: "1.5 MB" },
            { tag: "1023.96 MB carries to GB", value: 1023.96 * 1048576, text: "1 GB" },
            { tag: "GB keeps two digits", value: 2.25 * 1073741824, text: "2.25 GB" },
            { tag: "TB is the largest unit", value: 5 * 1024 * 1099511627776, text: "5,120 TB" },
            { tag: "capped at 9e18", value: 1e30, text: "8,185,452.32 TB" },
            { tag: "infinity is capped too", value: Infinity, text: "8,185,452.32 TB" }
        ]
    }
    function test_byteCounts(data) {
        compare(Format.formatBytes(data.value), data.text)
    }

    // The tint thresholds (an empty limit, clamping and negative use reach the gauge in Panels).
    function test_gauge() {
        compare([69, 70, 90].map(function (used) { return Format.gaugeTint(used, 100) }), ["accent", "warning", "destructive"])
        fuzzyCompare(Format.gaugeFraction(69, 100), 0.69, 1e-12)
    }

    function test_gaugeTexts() {
        compare([Format.actionCountText(0), Format.actionCountText(1)], ["0 actions", "1 action"])
        compare(Format.remainingText(-5), "Zero KB left")
        compare(Format.gaugeAccessibleValue(524288, 2147483648 - 524288), "512 KB used, 2 GB remaining")
    }

    // Dash and underscore, upper case lowered after the first letter, only the part before the first dash.
    function test_planName() {
        compare(["pro_annual-2", "TEAM_PLUS", "a-b-c", "", undefined].map(function (id) { return Format.planName(id) }),
                ["Pro Annual", "Team Plus", "A", "", ""])
    }

    function test_dates() {
        compare([new Date(2025, 2, 5, 12, 0), new Date(2025, 11, 31, 23, 59), "not a date"].map(function (d) { return Format.resetsText(d) }),
                ["Resets Mar 5", "Resets Dec 31", ""])
        compare([[0, 5], [12, 0], [15, 42]].map(function (t) { return Format.timeOfDay(new Date(2025, 0, 1, t[0], t[1])) }),
                ["12:05 AM", "12:00 PM", "3:42 PM"])
    }

    // The selected-files list (three shown, "+ 2 more", folder and file names) is driven in
    // Workbench; here the first hidden file and the root folder.
    function test_fileListEdges() {
        compare([Format.moreFilesText(4), Format.lastPathComponent("/")], ["+ 1 more", "/"])
    }

    function test_initials() {
        compare(["jane.doe@example.com", "jane@example.com", "a_b-c@x", "", "...@x"].map(function (e) { return Format.initials(e) }),
                ["JD", "J", "AB", "K", "K"])
    }
}
