import QtQuick
import Korvo

// A small shielded note under a sign-in form.
Row {
    id: root
    property string text
    spacing: 8
    topPadding: 4

    Icon {
        id: shield
        name: "shield"
        size: 12
        font.weight: Font.DemiBold
        color: KorvoTheme.withAlpha(KorvoTheme.accent, 0.62)
    }
    KorvoText {
        objectName: "footnote"
        width: root.width - shield.width - root.spacing
        text: root.text
        size: 11
        weight: Font.Medium
        color: KorvoTheme.withAlpha(KorvoTheme.textMuted, 0.72)
        wrapMode: Text.Wrap
        elide: Text.ElideNone
        verticalAlignment: Text.AlignTop
    }
}
