import QtQuick
import QtQuick.Shapes
import Korvo

// The brand mark: a shield outline, a cipher ring and a keyhole on an accent tint.
Item {
    id: root
    property real size: 44
    readonly property real outlineWidth: Math.max(1.5, size * 0.047)
    readonly property real fineWidth: Math.max(1.25, size * 0.038)
    readonly property real inset: size * 0.09
    width: size
    height: size
    implicitWidth: size
    implicitHeight: size

    Rectangle {
        anchors.fill: parent
        radius: root.size * 0.24
        color: KorvoTheme.withAlpha(KorvoTheme.accent, 0.16)
    }

    Shape {
        anchors.fill: parent
        KorvoShieldShape {
            origin: root.inset
            side: root.size - 2 * root.inset
            strokeWidth: root.outlineWidth
            strokeColor: KorvoTheme.accent
        }
        KorvoCipherShape {
            origin: root.inset
            side: root.size - 2 * root.inset
            strokeWidth: root.fineWidth
            strokeColor: KorvoTheme.withAlpha(KorvoTheme.accent, 0.78)
        }
        KorvoKeyholeShape {
            origin: root.inset
            side: root.size - 2 * root.inset
            fillColor: KorvoTheme.accent
        }
    }
}
