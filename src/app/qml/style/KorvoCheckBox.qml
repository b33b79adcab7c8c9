import QtQuick
import QtQuick.Controls.Basic
import Korvo

// A checkbox with its title: an accent box with a check mark when ticked. Space toggles it.
CheckBox {
    id: control
    spacing: 8
    padding: 0
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    font.family: KorvoTheme.fontFamily
    Accessible.name: text

    indicator: Rectangle {
        id: box
        x: control.leftPadding
        anchors.verticalCenter: parent.verticalCenter
        width: 16
        height: 16
        radius: 4
        color: control.checked ? KorvoTheme.accent : KorvoTheme.white(control.hovered ? 0.12 : 0.08)
        border.width: 1
        border.color: control.checked ? KorvoTheme.withAlpha(KorvoTheme.accent, 0.9) : KorvoTheme.white(0.22)
        Icon {
            anchors.centerIn: parent
            visible: control.checked
            name: "checkmark"
            size: 13
            color: KorvoTheme.accentText
        }
        FocusRing { shown: control.visualFocus; radius: 7 }
    }
    contentItem: KorvoText {
        leftPadding: box.width + control.spacing
        text: control.text
        size: 13
        wrapMode: Text.Wrap
        elide: Text.ElideNone
    }
}
