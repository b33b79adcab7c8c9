import QtQuick
import QtTest
import Korvo

// Filled and outlined symbol variants stay apart, and the bundled fonts load.
TestCase {
    name: "Icons"

    function test_filledAndOutlinedDiffer() {
        var pairs = [["checkmark.circle", "checkmark.circle.fill"], ["folder", "folder.fill"],
                     ["key", "key.fill"], ["lock", "lock.fill"],
                     ["exclamationmark.circle", "exclamationmark.circle.fill"], ["trash", "trash.fill"]]
        for (var i = 0; i < pairs.length; ++i)
            verify(Icons.glyph(pairs[i][0]) !== Icons.glyph(pairs[i][1]), pairs[i][0])
        compare(Icons.glyph("no.such.symbol"), "")
    }

    TextMetrics { id: digits; font.family: KorvoTheme.digitsFamily; font.pixelSize: 15 }

    // The bundled fonts load, and the number font's digits all have one width.
    function test_fontsLoad() {
        tryCompare(KorvoTheme.iconFont, "status", FontLoader.Ready)
        tryCompare(KorvoTheme.interSemiBold, "status", FontLoader.Ready)
        tryCompare(KorvoTheme.digitsFont, "status", FontLoader.Ready)
        var widths = []
        for (var d = 0; d < 10; ++d) {
            digits.text = String(d).repeat(8)
            widths.push(Math.round(digits.advanceWidth))
        }
        compare(Math.min.apply(null, widths), Math.max.apply(null, widths), widths.join())
    }
}
