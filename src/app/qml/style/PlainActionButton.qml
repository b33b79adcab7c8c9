import QtQuick
import QtQuick.Controls.Basic
import Korvo

// A plain-style row button: an icon and a title, no fill until hovered.
KorvoPressButton {
    id: control
    property string systemImage
    // The destructive role: drawn in the destructive red unless a tint is given.
    property bool destructive: false
    property color tint: destructive ? KorvoTheme.destructive : KorvoTheme.textPrimary
    pressedScale: 0.98
    focusRadius: 7
    implicitHeight: 30

    contentItem: Item {
        SymbolLabel {
            anchors.left: parent.left
            anchors.leftMargin: 8
            anchors.verticalCenter: parent.verticalCenter
            icon: control.systemImage
            text: control.text
            size: 13
            iconSize: 15
            weight: Font.Medium
            color: control.tint
        }
    }
    background: Rectangle {
        radius: 7
        color: KorvoTheme.white(control.hovered ? 0.06 : 0)
    }
}
