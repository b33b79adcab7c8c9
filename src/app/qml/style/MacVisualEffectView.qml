import QtQuick
import Korvo

// Translucent window material. Blur behind the window is not available here, so each
// material is a tinted translucent fill that reads the same over the dark background.
Rectangle {
    property string material: "window"
    property string blendingMode: "behindWindow"
    color: KorvoTheme.material(material)
    radius: 0
}
