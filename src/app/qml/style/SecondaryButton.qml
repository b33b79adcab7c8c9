import QtQuick
import QtQuick.Controls.Basic
import Korvo

// A quieter action on thin material.
KorvoPressButton {
    id: control
    property string systemImage: ""
    pressedScale: 0.98
    implicitHeight: 40
    implicitWidth: labelRow.implicitWidth + 36

    contentItem: Item {
        SymbolLabel {
            id: labelRow
            anchors.centerIn: parent
            icon: control.systemImage
            text: control.text
            size: 15
            iconSize: 17
            weight: Font.DemiBold
            color: "white"
            opacity: control.enabled ? 1 : 0.5
        }
    }

    background: Rectangle {
        radius: 10
        color: KorvoTheme.thinMaterial
        border.width: 1
        border.color: KorvoTheme.white(0.16)
        Rectangle {
            anchors.fill: parent
            anchors.margins: 1
            radius: parent.radius - 1
            color: KorvoTheme.white(control.hovered ? 0.07 : 0.035)
            Behavior on color { ColorAnimation { duration: 200 } }
        }
    }
}
