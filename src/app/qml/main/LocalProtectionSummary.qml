import QtQuick
import Korvo

// What local mode offers, at the top of the rail.
Item {
    objectName: "localSummary"
    Column {
        anchors.fill: parent
        anchors.margins: 18
        spacing: 14
        SymbolLabel {
            icon: "desktopcomputer"
            text: KorvoStore.platformText("On this Mac")
            size: 15
            iconSize: 17
            weight: Font.DemiBold
        }
        KorvoText {
            width: parent.width
            text: "Private file protection that works without an account or internet connection."
            size: 13
            weight: Font.DemiBold
            color: KorvoTheme.textMuted
            wrapMode: Text.Wrap
            elide: Text.ElideNone
        }
        // Never "ready" while the keyring cannot hold the local key: say what is wrong instead.
        SymbolLabel {
            readonly property bool keyringDown: KorvoStore.keyringProblem !== ""
            objectName: "localReadiness"
            width: parent.width
            icon: keyringDown ? "exclamationmark.circle.fill" : "checkmark.circle.fill"
            text: keyringDown ? KorvoStore.keyringProblem : "Offline and ready"
            size: KorvoTheme.captionSize
            iconSize: 13
            weight: Font.DemiBold
            color: keyringDown ? KorvoTheme.destructive : KorvoTheme.accent
            // The keyring's sentence is long: it wraps within the rail.
            label.width: width - iconSize - spacing
            label.wrapMode: Text.Wrap
            label.elide: Text.ElideNone
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }
}
