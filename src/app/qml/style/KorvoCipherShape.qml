import QtQuick
import QtQuick.Shapes

// A broken ring around the keyhole, in a unit square placed at `origin` with side `side`.
ShapePath {
    property real origin: 0
    property real side: 1
    fillColor: "transparent"
    capStyle: ShapePath.RoundCap
    strokeStyle: ShapePath.DashLine
    dashPattern: [3.2, 1.6]
    PathAngleArc {
        centerX: origin + 0.5 * side
        centerY: origin + 0.47 * side
        radiusX: 0.25 * side
        radiusY: 0.25 * side
        startAngle: -80
        sweepAngle: 340
    }
}
