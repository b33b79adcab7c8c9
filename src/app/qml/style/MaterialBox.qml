import QtQuick
import Korvo

// A rounded box of material with a 1-point outline.
Rectangle {
    property string material: "thin"
    color: KorvoTheme.material(material)
    radius: KorvoTheme.cornerRadius
    border.width: 1
    border.color: KorvoTheme.border
}
