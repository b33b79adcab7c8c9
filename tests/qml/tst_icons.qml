import QtQuick
import QtTest
import Korvo

// Filled and outlined symbol variants stay apart, and the bundled fonts load.
TestCase {
    name: "Icons"

    function test_filledAndOutlinedDiffer() {
        for (const name of ["checkmark.circle", "folder", "key", "lock", "exclamationmark.circle", "trash"])
            verify(Icons.glyph(name) !== Icons.glyph(name + ".fill"), name)
        compare(Icons.glyph("no.such.symbol"), "")
    }

    TextMetrics { id: digits; font.family: KorvoTheme.digitsFamily; font.pixelSize: 15 }

    // The bundled fonts load, and the number font's digits all have one width.
    function test_fontsLoad() {
        for (const font of [KorvoTheme.iconFont, KorvoTheme.interSemiBold, KorvoTheme.digitsFont])
            tryCompare(font, "status", FontLoader.Ready)
        var widths = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9].map(function (d) {
            digits.text = String(d).repeat(8)
            return Math.round(digits.advanceWidth)
        })
        compare(Math.min.apply(null, widths), Math.max.apply(null, widths), widths.join())
    }
}
