import QtQuick
import QtQuick.Controls.Basic
import Korvo

// Press behaviour shared by every button: while pressed the button shrinks to `pressedScale`
// about its centre and is drawn at 88 % opacity. Keyboard focus (Tab) shows the focus ring and
// Space presses the button.
Button {
    id: control
    property real pressedScale: 0.98
    // The corner radius of the button's shape, which the focus ring follows.
    property real focusRadius: 10
    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    padding: 0
    font.family: KorvoTheme.fontFamily
    scale: down ? pressedScale : 1
    opacity: down ? 0.88 : 1
    transformOrigin: Item.Center
    Accessible.name: text
    Behavior on scale { NumberAnimation { duration: 200; easing.type: Easing.OutCubic } }
    Behavior on opacity { NumberAnimation { duration: 200; easing.type: Easing.OutCubic } }

    FocusRing { shown: control.visualFocus; radius: control.focusRadius + outset }
}
