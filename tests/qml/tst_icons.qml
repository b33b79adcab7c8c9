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
        "shield", "shield.lefthalf.filled", "tray.and.arrow.down.fill", "trash", "trash.fill", "checkmark"
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
                     ["exclamationmark.circle", "exclamationmark.circle.fill"], ["trash", "trash.fill"]]
        for (var i = 0; i < pairs.length; ++i)
            verify(Icons.glyph(pairs[i][0]) !== Icons.glyph(pairs[i][1]), pairs[i][0])
    }

    TextMetrics { id: digits; font.family: KorvoTheme.digitsFamily; font.pixelSize: 15 }

    // The bundled fonts load, and the number font's digits all have one width.
    function test_fontsLoad() {
        tryCompare(KorvoTheme.iconFont, "status", FontLoader.Ready)
        tryCompare(KorvoTheme.interSemiBold, "status", FontLoader.Ready)
        tryCompare(KorvoTheme.digitsFont, "status", FontLoader.Ready)
        compare(KorvoTheme.fontFamily, "Inter")
        compare(KorvoTheme.digitsFamily, "Korvo Digits")
        var widths = []
        for (var d = 0; d < 10; ++d) {
            digits.text = String(d).repeat(8)
            widths.push(Math.round(digits.advanceWidth))
        }
        compare(Math.min.apply(null, widths), Math.max.apply(null, widths), widths.join())
    }
}
