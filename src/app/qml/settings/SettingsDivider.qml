import QtQuick
import Korvo

// The hairline between rows of a settings group.
Rectangle {
    width: parent ? parent.width : 0
    height: 1
    color: KorvoTheme.white(0.07)
}
