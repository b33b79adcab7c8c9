import QtQuick
import QtQuick.Controls.Basic
import Korvo

// A compact push button of the settings form and the deletion sheet. The default one is filled
// with the accent; a prominent one is filled with its tint (red when destructive); a plain one
// has no bezel; a destructive one draws its title in red.
KorvoPressButton {
    id: control
    property bool destructive: false
    property bool isDefault: false
    property bool prominent: false
    property bool plain: false
    readonly property color fill: isDefault ? (hovered ? KorvoTheme.accentHover : KorvoTheme.accent)
                                 : prominent ? (destructive ? KorvoTheme.red : KorvoTheme.accent)
                                 : KorvoTheme.white(plain ? (hovered ? 0.06 : 0) : (hovered ? 0.14 : 0.1))
    pressedScale: 0.98
    focusRadius: 7
    implicitWidth: label.implicitWidth + 28
    implicitHeight: 28
    contentItem: KorvoText {
        id: label
        text: control.text
        size: 13
        weight: control.prominent || control.isDefault ? Font.DemiBold : Font.Medium
        horizontalAlignment: Text.AlignHCenter
        opacity: control.enabled ? 1 : 0.45
        color: control.isDefault ? KorvoTheme.accentText
             : control.prominent ? (control.destructive ? "white" : KorvoTheme.accentText)
             : control.destructive ? KorvoTheme.red : KorvoTheme.textPrimary
    }
    background: Rectangle {
        radius: 7
        color: control.fill
        opacity: control.enabled ? 1 : 0.5
        border.width: control.plain ? 0 : 1
        border.color: KorvoTheme.white(0.12)
    }
}
