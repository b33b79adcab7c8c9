import QtQuick
import QtQuick.Controls.Basic
import Korvo

// A compact push button of the settings form; the default one is filled with the accent.
KorvoPressButton {
    id: control
    property bool destructive: false
    property bool isDefault: false
    pressedScale: 0.98
    implicitWidth: label.implicitWidth + 28
    implicitHeight: 26
    contentItem: KorvoText {
        id: label
        text: control.text
        size: 13
        weight: Font.Medium
        horizontalAlignment: Text.AlignHCenter
        color: control.isDefault ? KorvoTheme.accentText
             : control.destructive ? KorvoTheme.red : KorvoTheme.textPrimary
    }
    background: Rectangle {
        radius: 7
        color: control.isDefault ? (control.hovered ? KorvoTheme.accentHover : KorvoTheme.accent)
                                 : KorvoTheme.white(control.hovered ? 0.14 : 0.1)
        border.width: 1
        border.color: KorvoTheme.white(0.12)
    }
}
