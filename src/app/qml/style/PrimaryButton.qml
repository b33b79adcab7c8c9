import QtQuick
import QtQuick.Controls.Basic
import Korvo

// The accent-filled main action of a screen.
KorvoPressButton {
    id: control
    property string systemImage: ""
    readonly property string shownIcon: systemImage.length > 0 ? systemImage : "arrow.right"
    readonly property bool hoverFill: hovered && enabled
    readonly property color labelColor: enabled ? KorvoTheme.accentText : KorvoTheme.white(0.82)
    pressedScale: 0.98
    implicitHeight: 40
    implicitWidth: labelRow.implicitWidth + 36

    contentItem: Item {
        SymbolLabel {
            id: labelRow
            anchors.centerIn: parent
            icon: control.shownIcon
            text: control.text
            size: 14
            iconSize: 16
            weight: Font.DemiBold
            color: control.labelColor
        }
    }

    background: Item {
        SoftShadow {
            target: fill
            radiusPoints: 10
            offsetY: 3
            shadowOpacity: control.hoverFill ? 0.24 : 0.16
        }
        Rectangle {
            id: fill
            objectName: "primaryFill"
            anchors.fill: parent
            radius: 10
            color: control.hoverFill ? KorvoTheme.accentHover : KorvoTheme.accent
            opacity: control.enabled ? 1 : 0.42
            Behavior on color { ColorAnimation { duration: 220 } }
            Behavior on opacity { NumberAnimation { duration: 240; easing.type: Easing.OutCubic } }
        }
        Rectangle {
            objectName: "primaryHighlight"
            anchors.fill: parent
            radius: 10
            visible: control.enabled
            gradient: Gradient {
                GradientStop { position: 0; color: KorvoTheme.white(0.15) }
                GradientStop { position: 0.5; color: "transparent" }
            }
        }
        Rectangle {
            objectName: "primaryOutline"
            anchors.fill: parent
            radius: 10
            color: "transparent"
            border.width: 1
            border.color: control.enabled ? KorvoTheme.white(0.16) : KorvoTheme.white(0.06)
        }
    }
}
