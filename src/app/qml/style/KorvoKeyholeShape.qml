import QtQuick
import QtQuick.Shapes

// A filled keyhole in a unit square placed at `origin` with side `side`.
ShapePath {
    property real origin: 0
    property real side: 1
    function px(u) { return origin + u * side }
    strokeWidth: -1
    startX: px(0.455); startY: px(0.47)
    PathArc { x: px(0.545); y: px(0.47); radiusX: 0.085 * side; radiusY: 0.085 * side; useLargeArc: true }
    PathLine { x: px(0.575); y: px(0.6) }
    PathLine { x: px(0.425); y: px(0.6) }
    PathLine { x: px(0.455); y: px(0.47) }
}
