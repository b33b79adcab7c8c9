import QtQuick
import Qt5Compat.GraphicalEffects

// A blurred shadow under a rounded rectangle of the same geometry as `target`.
RectangularGlow {
    property Item target
    property real shadowOpacity: 0.16
    property real radiusPoints: 18
    property real offsetY: 8
    x: target ? target.x : 0
    y: (target ? target.y : 0) + offsetY
    width: target ? target.width : 0
    height: target ? target.height : 0
    glowRadius: radiusPoints / 2
    spread: 0.05
    cornerRadius: (target && target.radius !== undefined ? target.radius : 0) + glowRadius
    color: Qt.rgba(0, 0, 0, shadowOpacity)
}
