import QtQuick
import Korvo

// "Me" or "Someone else", with a dot on the chosen one. Options are 98 points wide, or as wide
// as the longer title with its dot needs, so neither title is squeezed.
Rectangle {
    id: root
    readonly property var targets: [KorvoStore.Own, KorvoStore.Recipient]
    readonly property var titles: ["Me", "Someone else"]
    readonly property int selectedIndex: targets.indexOf(KorvoStore.encryptionTarget)
    readonly property real optionWidth: Math.max(98, Math.ceil(Math.max(measure0.advanceWidth, measure1.advanceWidth)) + 7 + 5 + 2 * 10)
    width: 2 * optionWidth + 6
    height: 30 + 6
    radius: 9
    color: KorvoTheme.white(0.055)
    border.width: 1
    border.color: KorvoTheme.border

    TextMetrics { id: measure0; font.family: KorvoTheme.fontFamily; font.pixelSize: 13; font.weight: Font.DemiBold; text: root.titles[0] }
    TextMetrics { id: measure1; font: measure0.font; text: root.titles[1] }

    Rectangle {
        objectName: "targetHighlight"
        x: 3 + root.selectedIndex * root.optionWidth
        y: 3
        width: root.optionWidth
        height: 30
        radius: 7
        color: KorvoTheme.white(0.92)
        Behavior on x { NumberAnimation { duration: 120; easing.type: Easing.OutQuad } }
    }
    Row {
        x: 3; y: 3
        Repeater {
            model: 2
            KorvoPressButton {
                id: option
                objectName: "target" + index
                readonly property bool selected: index === root.selectedIndex
                width: root.optionWidth
                height: 30
                pressedScale: 0.96
                focusRadius: 7
                text: root.titles[index]
                onClicked: KorvoStore.encryptionTarget = root.targets[index]
                contentItem: Item {
                    Row {
                        anchors.centerIn: parent
                        spacing: 5
                        Rectangle {
                            visible: option.selected
                            width: 7; height: 7; radius: 3.5
                            anchors.verticalCenter: parent.verticalCenter
                            color: KorvoTheme.accent
                        }
                        KorvoText {
                            text: option.text
                            size: 13
                            weight: Font.DemiBold
                            color: option.selected ? KorvoTheme.accentText : KorvoTheme.textMuted
                        }
                    }
                }
                background: Item {}
            }
        }
    }
}
