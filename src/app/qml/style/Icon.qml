import QtQuick
import Korvo

// A symbol from the icon table, drawn in the bundled icon font.
Text {
    property string name
    property real size: 16
    text: Icons.glyph(name)
    font.family: KorvoTheme.iconFamily
    font.pixelSize: size
    color: KorvoTheme.textPrimary
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
    renderType: Text.QtRendering
}
