import QtQuick
import QtTest
import Korvo

// Every symbol the views name has a glyph, and filled and outlined variants stay apart.
TestCase {
    name: "Icons"

    readonly property var names: [
        "arrow.clockwise", "arrow.right", "calendar", "chart.bar.fill", "checkmark.circle",
        "checkmark.circle.fill", "checkmark.seal", "clock", "clock.arrow.circlepath",
        "desktopcomputer", "desktopcomputer.trianglebadge.exclamationmark", "doc.badge.arrow.up",
        "doc.fill", "envelope", "envelope.badge", "exclamationmark.circle",
        "exclamationmark.circle.fill", "exclamationmark.triangle.fill", "folder", "folder.fill", "gearshape",
        "hourglass", "key", "key.fill", "lock", "lock.fill", "lock.open", "lock.open.fill",
        "number", "person.crop.circle.fill", "plus", "rectangle.portrait.and.arrow.right",
        "shield", "shield.lefthalf.filled", "tray.and.arrow.down.fill", "trash", "trash.circle.fill"
    ]

    function test_everyNameHasAGlyph() {
        for (var i = 0; i < names.length; ++i) {
            verify(Icons.has(names[i]), names[i])
            compare(Icons.glyph(names[i]).length, 1, names[i])
        }
        compare(Icons.glyph("no.such.symbol"), "")
    }

    function test_filledAndOutlinedDiffer() {
        var pairs = [["checkmark.circle", "checkmark.circle.fill"], ["folder", "folder.fill"],
                     ["key", "key.fill"], ["lock", "lock.fill"],
                     ["exclamationmark.circle", "exclamationmark.circle.fill"], ["trash", "trash.circle.fill"]]
        for (var i = 0; i < pairs.length; ++i)
            verify(Icons.glyph(pairs[i][0]) !== Icons.glyph(pairs[i][1]), pairs[i][0])
    }

    function test_iconFontLoads() {
        tryCompare(KorvoTheme.iconFont, "status", FontLoader.Ready)
        tryCompare(KorvoTheme.interSemiBold, "status", FontLoader.Ready)
        compare(KorvoTheme.fontFamily, "Inter")
    }
}
