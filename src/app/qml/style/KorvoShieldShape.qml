import QtQuick
import QtQuick.Shapes

// Shield outline in a unit square placed at `origin` with side `side`.
ShapePath {
    property real origin: 0
    property real side: 1
    function px(u) { return origin + u * side }
    fillColor: "transparent"
    joinStyle: ShapePath.RoundJoin
    capStyle: ShapePath.RoundCap
    startX: px(0.5); startY: px(0.04)
    PathCubic { x: px(0.9); y: px(0.2); control1X: px(0.64); control1Y: px(0.13); control2X: px(0.78); control2Y: px(0.18) }
    PathCubic { x: px(0.5); y: px(0.97); control1X: px(0.92); control1Y: px(0.58); control2X: px(0.76); control2Y: px(0.84) }
    PathCubic { x: px(0.1); y: px(0.2); control1X: px(0.24); control1Y: px(0.84); control2X: px(0.08); control2Y: px(0.58) }
    PathCubic { x: px(0.5); y: px(0.04); control1X: px(0.22); control1Y: px(0.18); control2X: px(0.36); control2Y: px(0.13) }
}
