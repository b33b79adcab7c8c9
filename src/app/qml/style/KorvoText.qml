import QtQuick
import Korvo

// Text in the bundled interface font; `size` in points, weight by name. Plain text: sentences
// from the service and error texts are shown as they came, markup included.
Text {
    property real size: KorvoTheme.bodySize
    property int weight: Font.Normal
    font.family: KorvoTheme.fontFamily
    font.pixelSize: size
    font.weight: weight
    color: KorvoTheme.textPrimary
    elide: Text.ElideRight
    verticalAlignment: Text.AlignVCenter
    textFormat: Text.PlainText
}
