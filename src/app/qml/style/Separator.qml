import QtQuick
import Korvo

// A 1-point line in the border colour; vertical unless `horizontal`.
Rectangle {
    property bool horizontal: false
    implicitWidth: horizontal ? 0 : 1
    implicitHeight: horizontal ? 1 : 0
    color: KorvoTheme.border
}
