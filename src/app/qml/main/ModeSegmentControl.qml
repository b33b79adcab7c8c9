import QtQuick
import QtQuick.Controls.Basic
import Korvo

// "Lock" or "Open": the workbench's mode, with a highlight that slides between segments.
Rectangle {
    id: root
    readonly property var modes: [KorvoStore.Encrypt, KorvoStore.Decrypt]
    readonly property var titles: ["Lock", "Open"]
    property var hoveredMode: undefined
    readonly property int selectedIndex: modes.indexOf(KorvoStore.mode)

    width: segments.implicitWidth + 6
    height: 32 + 6
    radius: 10
    color: KorvoTheme.thinMaterial
    border.width: 1
    border.color: KorvoTheme.border

    // The selected segment's highlight, one element that moves.
    Item {
        id: pill
        objectName: "modePill"
        x: 3 + root.selectedIndex * (92 + segments.spacing)
        y: 3
        width: 92
        height: 32
        Behavior on x { NumberAnimation { duration: 280; easing.type: Easing.OutBack; easing.overshoot: 0.6 } }
        SoftShadow { target: pillFill; shadowOpacity: 0.18; radiusPoints: 6; offsetY: 1 }
        Rectangle { id: pillFill; anchors.fill: parent; radius: 8; color: KorvoTheme.accent }
    }

    Row {
        id: segments
        x: 3; y: 3
        spacing: 2
        Repeater {
            model: 2
            KorvoPressButton {
                id: segment
                objectName: "mode" + root.titles[index]
                readonly property bool selected: index === root.selectedIndex
                width: 92
                height: 32
                pressedScale: 0.96
                focusRadius: 8
                text: root.titles[index]
                onClicked: KorvoStore.mode = root.modes[index]
                onHoveredChanged: root.hoveredMode = hovered ? root.modes[index]
                                                   : (root.hoveredMode === root.modes[index] ? undefined : root.hoveredMode)
                contentItem: KorvoText {
                    text: segment.text
                    size: 14
                    weight: Font.DemiBold
                    horizontalAlignment: Text.AlignHCenter
                    color: segment.selected ? KorvoTheme.accentText : KorvoTheme.textMuted
                    Behavior on color { ColorAnimation { duration: 200 } }
                }
                background: Rectangle {
                    radius: 8
                    color: KorvoTheme.white(!segment.selected && root.hoveredMode === root.modes[index] ? 0.055 : 0)
                    Behavior on color { ColorAnimation { duration: 200 } }
                }
            }
        }
    }
}
