import QtQuick
import Qt5Compat.GraphicalEffects
import Korvo

// Shows which control has keyboard focus: an accent outline with a soft accent glow, drawn
// `outset` points outside the parent control (0 lays it on the control's own edge).
Item {
    id: ring
    property bool shown: false
    property real radius: 8
    property real outset: 3
    // The ring's colour: the accent, unless the control's own outline says something (a
    // look-up that failed) that the ring must not hide.
    property color color: KorvoTheme.accent
    anchors.fill: parent
    anchors.margins: -outset
    z: 10
    opacity: shown ? 1 : 0
    visible: opacity > 0
    Behavior on opacity { NumberAnimation { duration: 120; easing.type: Easing.OutCubic } }

    // The glow builds its shaders when it is made, and every control has a ring: it is made only
    // while the ring shows.
    Loader {
        anchors.fill: line
        active: ring.visible
        sourceComponent: Glow {
            source: line
            radius: 7
            samples: 15
            spread: 0.3
            transparentBorder: true
            color: KorvoTheme.withAlpha(ring.color, 0.2)
        }
    }
    Rectangle {
        id: line
        objectName: "focusRing"
        anchors.fill: parent
        radius: ring.radius
        color: "transparent"
        border.width: 1.5
        border.color: KorvoTheme.withAlpha(ring.color, 0.88)
    }
}
