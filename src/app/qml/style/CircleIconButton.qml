import QtQuick
import QtQuick.Controls.Basic
import Korvo

// A plain icon button in a faint circle, with a help text on hover.
KorvoPressButton {
    id: control
    property string systemImage: "arrow.clockwise"
    property real diameter: 22
    property real fillOpacity: 0.055
    property string helpText: ""
    pressedScale: 0.96
    focusRadius: diameter / 2
    Accessible.name: helpText
    implicitWidth: diameter
    implicitHeight: diameter
    ToolTip.visible: hovered && helpText.length > 0
    ToolTip.delay: 600
    ToolTip.text: helpText

    contentItem: Icon {
        name: control.systemImage
        size: control.diameter * 0.6
        color: KorvoTheme.textPrimary
    }
    background: Rectangle {
        radius: width / 2
        color: KorvoTheme.white(control.hovered ? control.fillOpacity + 0.04 : control.fillOpacity)
    }
}
