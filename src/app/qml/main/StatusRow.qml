import QtQuick
import Korvo
import "../style/Format.js" as Format

// The store's status line, or "Ready".
SymbolLabel {
    objectName: "statusRow"
    Accessible.role: Accessible.StaticText
    Accessible.name: text
    // The check mark goes only beside a finished result (or "Ready"): not beside a busy line the
    // runner left in place, a failure's last line, "Cancelled." or a keyring problem.
    icon: KorvoStore.isBusy ? "clock"
        : (KorvoStore.statusMessage === "" || KorvoStore.statusIsResult ? "checkmark.circle" : "")
    text: Format.statusText(KorvoStore.statusMessage)
    size: 12
    iconSize: 14
    weight: Font.Medium
    color: KorvoTheme.textMuted
    iconColor: KorvoTheme.accent
    label.width: Math.min(label.implicitWidth, width - iconSize - spacing)
    label.elide: Text.ElideRight
}
