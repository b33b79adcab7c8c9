import QtQuick
import QtTest
import "qrc:/Korvo/qml/style/Format.js" as Format
import "qrc:/Korvo/qml/auth/AccountRules.js" as Rules

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
    function test_gauge_data() {
        return [
            { tag: "0.69", used: 69, limit: 100, tint: "accent", fraction: 0.69 },
            { tag: "0.7", used: 70, limit: 100, tint: "warning", fraction: 0.7 },
            { tag: "0.9", used: 90, limit: 100, tint: "destructive", fraction: 0.9 }
        ]
    }
    function test_gauge(data) {
        compare(Format.gaugeTint(data.used, data.limit), data.tint)
        fuzzyCompare(Format.gaugeFraction(data.used, data.limit), data.fraction, 1e-12)
    }

    // The panels' own figures (1 MB / 3 GB, 1 action) are checked in Panels; here the edges.
    function test_gaugeTexts() {
        compare(Format.actionCountText(0), "0 actions")
        compare(Format.remainingText(-5), "Zero KB left")
        compare(Format.gaugeAccessibleValue(524288, 2147483648 - 524288), "512 KB used, 2 GB remaining")
    }

    function test_planName_data() {
        return [
            { tag: "dash and underscore", id: "pro_annual-2", name: "Pro Annual" },
            { tag: "single word", id: "free", name: "Free" },
            { tag: "upper case is lowered after the first letter", id: "TEAM_PLUS", name: "Team Plus" },
            { tag: "only the part before the first dash", id: "a-b-c", name: "A" },
            { tag: "empty", id: "", name: "" },
            { tag: "missing", id: undefined, name: "" }
        ]
    }
    function test_planName(data) {
        compare(Format.planName(data.id), data.name)
    }

    function test_dates() {
        compare(Format.resetsText(new Date(2025, 2, 5, 12, 0)), "Resets Mar 5")
        compare(Format.resetsText(new Date(2025, 11, 31, 23, 59)), "Resets Dec 31")
        compare(Format.resetsText("not a date"), "")
        compare(Format.timeOfDay(new Date(2025, 0, 1, 0, 5)), "12:05 AM")
        compare(Format.timeOfDay(new Date(2025, 0, 1, 12, 0)), "12:00 PM")
        compare(Format.timeOfDay(new Date(2025, 0, 1, 15, 42)), "3:42 PM")
    }

    // The selected-files list (three shown, "+ 2 more", folder and file names) is driven in
    // Workbench; here the first hidden file and the root folder.
    function test_fileListEdges() {
        compare(Format.moreFilesText(4), "+ 1 more")
        compare(Format.lastPathComponent("/"), "/")
    }

    function test_numericFilter_data() {
        return [
            { tag: "signs and separators", text: "-4,2.0 ", digits: "420" },
            { tag: "arabic-indic digits pass", text: "\u0664\u0662x", digits: "\u0664\u0662" },
            { tag: "superscript and fraction are numbers", text: "2\u00B2\u00BD", digits: "2\u00B2\u00BD" },
            { tag: "astral digit kept whole", text: "a\uD835\uDFD8b", digits: "\uD835\uDFD8" },
            { tag: "emoji dropped whole", text: "4\uD83D\uDE00", digits: "4" }
        ]
    }
    function test_numericFilter(data) {
        compare(Format.numericCharactersOnly(data.text), data.digits)
    }

    function test_statusAndInitials() {
        compare(Format.statusText(""), "Ready")
        compare(Format.statusText("Saved to /tmp/a.korvolocal"), "Saved to /tmp/a.korvolocal")
        compare(Format.initials("jane.doe@example.com"), "JD")
        compare(Format.initials("jane@example.com"), "J")
        compare(Format.initials("a_b-c@x"), "AB")
        compare(Format.initials(""), "K")
        compare(Format.initials("...@x"), "K")
    }

    // When each account form may be sent. Lengths count characters: an astral character is one.
    function test_formRules_data() {
        var pw = "abcdefgh", seven = "abcdefg", astral7 = "abcdef\uD83D\uDE00"
        return [
            { tag: "sign-in", rule: "canSignIn", args: ["a@b", pw], ok: true },
            { tag: "sign-in trims and lowers the e-mail", rule: "canSignIn", args: ["  A@B  ", pw], ok: true },
            { tag: "sign-in without @", rule: "canSignIn", args: ["ab", pw], ok: false },
            { tag: "sign-in with 7 characters", rule: "canSignIn", args: ["a@b", seven], ok: false },
            { tag: "sign-in: 6 letters and an emoji are 7", rule: "canSignIn", args: ["a@b", astral7], ok: false },
            { tag: "create", rule: "canRegister", args: ["a@b", pw, pw], ok: true },
            { tag: "create: confirmation one character off", rule: "canRegister", args: ["a@b", pw, "abcdefgH"], ok: false },
            { tag: "create without @", rule: "canRegister", args: ["ab", pw, pw], ok: false },
            { tag: "verify any code", rule: "canVerifyCode", args: ["1"], ok: true },
            { tag: "verify empty", rule: "canVerifyCode", args: [""], ok: false },
            { tag: "recover", rule: "canRequestReset", args: ["@"], ok: true },
            { tag: "recover without @", rule: "canRequestReset", args: ["a.b"], ok: false },
            { tag: "reset", rule: "canResetPassword", args: ["1", pw, pw], ok: true },
            { tag: "reset without code", rule: "canResetPassword", args: ["", pw, pw], ok: false },
            { tag: "reset, passwords differ", rule: "canResetPassword", args: ["1", pw, pw + "x"], ok: false },
            { tag: "delete: request", rule: "canRequestDeletion", args: [pw, true, false], ok: true },
            { tag: "delete: 7 characters, box ticked", rule: "canRequestDeletion", args: [seven, true, false], ok: false },
            { tag: "delete: 8 characters, box clear", rule: "canRequestDeletion", args: [pw, false, false], ok: false },
            { tag: "delete: request while busy", rule: "canRequestDeletion", args: [pw, true, true], ok: false },
            { tag: "delete: six digits with blanks", rule: "canConfirmDeletion", args: [" 123456 ", false], ok: true },
            { tag: "delete: full-width digits", rule: "canConfirmDeletion", args: ["\uFF11\uFF12\uFF13\uFF14\uFF15\uFF16", false], ok: true },
            { tag: "delete: five digits", rule: "canConfirmDeletion", args: ["12345", false], ok: false },
            { tag: "delete: five digits and a letter", rule: "canConfirmDeletion", args: ["12345a", false], ok: false },
            { tag: "delete: blank inside", rule: "canConfirmDeletion", args: ["123 456", false], ok: false },
            { tag: "delete: confirm while busy", rule: "canConfirmDeletion", args: ["123456", true], ok: false }
        ]
    }
    function test_formRules(data) {
        compare(Rules[data.rule].apply(null, data.args), data.ok)
    }

    function test_passwordStrength_data() {
        return [
            { tag: "empty", password: "", score: 0 },
            { tag: "8 lower-case letters", password: "abcdefgh", score: 1 },
            { tag: "3 characters: upper, digit, symbol", password: "A1!", score: 3 },
            { tag: "all four", password: "Abcdefg1!", score: 4 },
            { tag: "a blank is a symbol", password: "a b", score: 1 },
            { tag: "accented capital is upper case", password: "\u00C9t\u00E9", score: 1 },
            { tag: "arabic-indic digit is a digit", password: "\u0664", score: 1 },
            { tag: "CJK letters are letters, not symbols", password: "\u6F22\u5B57\u6F22\u5B57\u6F22\u5B57\u6F22\u5B57", score: 1 },
            { tag: "emoji is a symbol and one character", password: "abcdef\uD83D\uDE00", score: 1 },
            { tag: "superscript two is not a decimal digit", password: "\u00B2", score: 1 }
        ]
    }
    function test_passwordStrength(data) {
        compare(Rules.passwordScore(data.password), data.score)
        compare(Rules.strengthText(data.score), data.score >= 3 ? "Good password strength."
                                                                 : "Use 8+ characters with a number or symbol.")
    }
}
