import QtQuick
import QtQuick.Controls.Basic
import Korvo

// Press behaviour shared by every button: while pressed the button shrinks to `pressedScale`
// about its centre and is drawn at 88 % opacity.
Button {
    id: control
    property real pressedScale: 0.98
    hoverEnabled: true
    focusPolicy: Qt.TabFocus
    padding: 0
    font.family: KorvoTheme.fontFamily
    scale: down ? pressedScale : 1
    opacity: down ? 0.88 : 1
    transformOrigin: Item.Center
    Behavior on scale { NumberAnimation { duration: 200; easing.type: Easing.OutCubic } }
    Behavior on opacity { NumberAnimation { duration: 200; easing.type: Easing.OutCubic } }
}
