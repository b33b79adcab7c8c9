import QtQuick
import Korvo
import "../style/Format.js" as Format

// The store's status line, or "Ready".
SymbolLabel {
    objectName: "statusRow"
    Accessible.role: Accessible.StaticText
    Accessible.name: text
    icon: KorvoStore.isBusy ? "clock" : "checkmark.circle"
    text: Format.statusText(KorvoStore.statusMessage)
    size: 12
    iconSize: 14
    weight: Font.Medium
    color: KorvoTheme.textMuted
    iconColor: KorvoTheme.accent
    label.width: Math.min(label.implicitWidth, width - iconSize - spacing)
    label.elide: Text.ElideRight
}
