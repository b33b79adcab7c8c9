import QtQuick
import QtQuick.Controls.Basic
import Korvo

// A plain text button in the accent colour.
KorvoPressButton {
    id: control
    pressedScale: 0.98
    focusRadius: 5
    implicitWidth: label.implicitWidth + 8
    implicitHeight: label.implicitHeight + 6
    contentItem: KorvoText {
        id: label
        text: control.text
        size: 13
        weight: Font.DemiBold
        horizontalAlignment: Text.AlignHCenter
        color: control.hovered ? KorvoTheme.accentHover : KorvoTheme.accent
    }
    background: Item {}
}
