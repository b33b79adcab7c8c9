import QtQuick
import Korvo

// Local mode's invitation to connect an account.
KorvoPanel {
    id: root
    property bool compact: false
    padding: 14
    implicitHeight: content.implicitHeight + 2 * padding

    Column {
        id: content
        width: parent.width
        spacing: 8
        KorvoText {
            text: "Halvane"
            size: 14
            weight: Font.DemiBold
            color: KorvoTheme.white(0.82)
        }
        KorvoText {
            width: parent.width
            text: "Protection engineered for the quantum era."
            size: 13
            weight: Font.Bold
            wrapMode: Text.Wrap
            elide: Text.ElideNone
        }
        KorvoText {
            width: parent.width
            text: KorvoStore.platformText("Share securely and recover access across Macs.")
            size: KorvoTheme.captionSize + 1
            color: KorvoTheme.textMuted
            wrapMode: Text.Wrap
            elide: Text.ElideNone
        }
        Item { width: 1; height: 2 }
        PrimaryButton {
            objectName: "connectButton"
            width: parent.width
            text: root.compact ? "Connect" : "Go Halvane"
            onClicked: KorvoStore.leaveLocalMode()
        }
    }
}
