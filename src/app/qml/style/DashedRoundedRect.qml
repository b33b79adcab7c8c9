import QtQuick
import QtQuick.Shapes

// A rounded rectangle outlined by a dashed stroke.
Shape {
    id: root
    property real radius: 16
    property color strokeColor: "white"
    property real strokeWidth: 1
    property color fillColor: "transparent"
    readonly property real h: strokeWidth / 2

    ShapePath {
        strokeColor: root.strokeColor
        strokeWidth: root.strokeWidth
        fillColor: root.fillColor
        strokeStyle: ShapePath.DashLine
        dashPattern: [5, 4]
        startX: root.radius; startY: root.h
        PathLine { x: root.width - root.radius; y: root.h }
        PathArc { x: root.width - root.h; y: root.radius; radiusX: root.radius - root.h; radiusY: root.radius - root.h }
        PathLine { x: root.width - root.h; y: root.height - root.radius }
        PathArc { x: root.width - root.radius; y: root.height - root.h; radiusX: root.radius - root.h; radiusY: root.radius - root.h }
        PathLine { x: root.radius; y: root.height - root.h }
        PathArc { x: root.h; y: root.height - root.radius; radiusX: root.radius - root.h; radiusY: root.radius - root.h }
        PathLine { x: root.h; y: root.radius }
        PathArc { x: root.radius; y: root.h; radiusX: root.radius - root.h; radiusY: root.radius - root.h }
    }
}
