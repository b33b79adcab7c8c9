import QtQuick
import QtQuick.Shapes
import Korvo

// The window background: a diagonal gradient from the top-leading to the bottom-trailing corner.
Shape {
    id: root
    ShapePath {
        strokeWidth: -1
        fillGradient: LinearGradient {
            x1: 0; y1: 0
            x2: root.width; y2: root.height
            GradientStop { position: 0; color: KorvoTheme.backgroundTop }
            GradientStop { position: 1; color: KorvoTheme.backgroundBottom }
        }
        startX: 0; startY: 0
        PathLine { x: root.width; y: 0 }
        PathLine { x: root.width; y: root.height }
        PathLine { x: 0; y: root.height }
        PathLine { x: 0; y: 0 }
    }
}
