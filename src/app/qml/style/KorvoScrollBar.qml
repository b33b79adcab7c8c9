import QtQuick
import QtQuick.Controls.Basic
import Korvo

// A slim scroll bar, shown whenever its list is longer than the room it has.
ScrollBar {
    id: bar
    readonly property bool needed: size < 1
    policy: needed ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
    padding: 2
    implicitWidth: 9
    contentItem: Rectangle {
        implicitWidth: 5
        radius: width / 2
        color: KorvoTheme.white(bar.pressed ? 0.42 : (bar.hovered ? 0.32 : 0.22))
    }
    background: Item {}
}
