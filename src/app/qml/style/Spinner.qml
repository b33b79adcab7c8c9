import QtQuick
import QtQuick.Shapes
import Korvo

// A spinning progress indicator drawn as an open accent arc.
Item {
    id: root
    property real diameter: 16
    property color color: KorvoTheme.accent
    property bool running: visible
    implicitWidth: diameter
    implicitHeight: diameter

    Shape {
        anchors.fill: parent
        ShapePath {
            strokeColor: KorvoTheme.withAlpha(root.color, 0.22)
            strokeWidth: Math.max(1.5, root.diameter / 9)
            fillColor: "transparent"
            PathAngleArc {
                centerX: root.diameter / 2; centerY: root.diameter / 2
                radiusX: root.diameter / 2 - 2; radiusY: root.diameter / 2 - 2
                startAngle: 0; sweepAngle: 360
            }
        }
    }
    Shape {
        id: arc
        anchors.fill: parent
        ShapePath {
            strokeColor: root.color
            strokeWidth: Math.max(1.5, root.diameter / 9)
            fillColor: "transparent"
            capStyle: ShapePath.RoundCap
            PathAngleArc {
                centerX: root.diameter / 2; centerY: root.diameter / 2
                radiusX: root.diameter / 2 - 2; radiusY: root.diameter / 2 - 2
                startAngle: -90; sweepAngle: 100
            }
        }
    }
    // One turn a second, in twelve steps rather than on every frame: each step redraws the whole
    // window, which a software renderer pays for with the work's processor time.
    Timer {
        interval: 83
        repeat: true
        running: root.running
        onTriggered: arc.rotation = (arc.rotation + 30) % 360
    }
}
