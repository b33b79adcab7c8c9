import QtQuick
import Korvo

// "Me" or "Someone else", each 98 points wide, with a dot on the chosen one.
Rectangle {
    id: root
    readonly property var targets: [KorvoStore.Own, KorvoStore.Recipient]
    readonly property var titles: ["Me", "Someone else"]
    readonly property int selectedIndex: targets.indexOf(KorvoStore.encryptionTarget)
    width: 2 * 98 + 6
    height: 30 + 6
    radius: 9
    color: KorvoTheme.white(0.055)
    border.width: 1
    border.color: KorvoTheme.border

    Rectangle {
        objectName: "targetHighlight"
        x: 3 + root.selectedIndex * 98
        y: 3
        width: 98
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
                width: 98
                height: 30
                pressedScale: 0.96
                focusRadius: 7
                text: root.titles[index]
                onClicked: KorvoStore.encryptionTarget = root.targets[index]
                contentItem: Item {
                    Row {
                        anchors.centerIn: parent
                        spacing: 4
                        Rectangle {
                            visible: option.selected
                            width: 7; height: 7; radius: 3.5
                            anchors.verticalCenter: parent.verticalCenter
                            color: KorvoTheme.accent
                        }
                        KorvoText {
                            // A long title shrinks a little rather than running over the option's edge.
                            width: Math.min(implicitWidth, option.width - 6 - (option.selected ? 11 : 0))
                            text: option.text
                            size: 13
                            weight: Font.DemiBold
                            font.letterSpacing: -0.3
                            fontSizeMode: Text.HorizontalFit
                            minimumPixelSize: 12
                            color: option.selected ? KorvoTheme.accentText : KorvoTheme.textMuted
                        }
                    }
                }
                background: Item {}
            }
        }
    }
}
