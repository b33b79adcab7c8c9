pragma Singleton
import QtQuick

// The one dark palette, the materials that stand in for translucent window effects, and the
// bundled fonts. Colours are sRGB; "white at p" is white with opacity p.
QtObject {
    function white(opacity) { return Qt.rgba(1, 1, 1, opacity) }
    function black(opacity) { return Qt.rgba(0, 0, 0, opacity) }
    function withAlpha(c, opacity) { return Qt.rgba(c.r, c.g, c.b, c.a * opacity) }

    readonly property color backgroundTop: Qt.rgba(0.035, 0.047, 0.044, 1)
    readonly property color backgroundBottom: Qt.rgba(0.018, 0.024, 0.023, 1)
    readonly property color sidebar: black(0.13)
    readonly property color panel: white(0.055)
    readonly property color field: white(0.065)
    readonly property color dropZone: white(0.028)
    readonly property color border: white(0.085)
    readonly property color strongBorder: white(0.14)
    readonly property color accent: Qt.rgba(0.24, 0.86, 0.62, 1)
    readonly property color accentHover: Qt.rgba(0.31, 0.91, 0.68, 1)
    readonly property color accentText: Qt.rgba(0.015, 0.12, 0.075, 1)
    readonly property color textPrimary: white(0.94)
    readonly property color textMuted: white(0.58)
    readonly property color textDim: white(0.34)
    readonly property color destructive: Qt.rgba(1.0, 0.36, 0.36, 1)
    // The system's yellow and red as used for warnings.
    readonly property color warning: Qt.rgba(1.0, 0.84, 0.04, 0.9)
    readonly property color yellow: Qt.rgba(1.0, 0.84, 0.04, 1)
    readonly property color red: Qt.rgba(1.0, 0.27, 0.23, 1)
    readonly property color secondaryText: white(0.55)

    // Materials: dark translucent fills standing in for the platform's blurred materials.
    readonly property color ultraThinMaterial: Qt.rgba(0.10, 0.11, 0.11, 0.42)
    readonly property color thinMaterial: Qt.rgba(0.16, 0.17, 0.17, 0.46)
    readonly property color regularMaterial: Qt.rgba(0.12, 0.13, 0.13, 0.94)
    readonly property color windowMaterial: Qt.rgba(0.09, 0.10, 0.10, 1)
    readonly property color sidebarMaterial: Qt.rgba(0.07, 0.08, 0.08, 0.55)

    function material(name) {
        switch (name) {
        case "ultraThin": return ultraThinMaterial
        case "thin": return thinMaterial
        case "regular": return regularMaterial
        case "sidebar": return sidebarMaterial
        default: return windowMaterial
        }
    }

    function tint(name) {
        switch (name) {
        case "warning": return warning
        case "destructive": return destructive
        default: return accent
        }
    }

    // Text sizes of the platform's named styles.
    readonly property int captionSize: 10
    readonly property int smallSize: 11
    readonly property int bodySize: 13
    readonly property int title2Size: 17
    readonly property int titleSize: 22

    readonly property int cornerRadius: 12
    readonly property int smallCornerRadius: 8

    property FontLoader interRegular: FontLoader { source: "fonts/Inter-Regular.otf" }
    property FontLoader interMedium: FontLoader { source: "fonts/Inter-Medium.otf" }
    property FontLoader interSemiBold: FontLoader { source: "fonts/Inter-SemiBold.otf" }
    property FontLoader interBold: FontLoader { source: "fonts/Inter-Bold.otf" }
    property FontLoader iconFont: FontLoader { source: "fonts/MaterialIcons-Regular.ttf" }
    // The digits in equal widths, for numbers typed or compared in columns.
    property FontLoader digitsFont: FontLoader { source: "fonts/KorvoDigits-SemiBold.otf" }

    readonly property string fontFamily: interRegular.status === FontLoader.Ready ? interRegular.font.family : "sans-serif"
    readonly property string iconFamily: iconFont.font.family
    readonly property string digitsFamily: digitsFont.status === FontLoader.Ready ? digitsFont.font.family : fontFamily
}
