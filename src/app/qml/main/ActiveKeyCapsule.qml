import QtQuick
import Korvo

// The key that new work uses; yellow when it cannot be used.
Rectangle {
    readonly property bool local: KorvoStore.accessMode === KorvoStore.Local
    width: label.implicitWidth + 20
    height: label.implicitHeight + 12
    radius: height / 2
    color: KorvoTheme.white(0.04)
    SymbolLabel {
        id: label
        objectName: "activeKeyLabel"
        anchors.centerIn: parent
        icon: parent.local ? "desktopcomputer" : "key.fill"
        text: KorvoStore.activeSecretLabel
        size: 12
        iconSize: 13
        weight: Font.DemiBold
        spacing: 5
        color: KorvoStore.activeSecretIsValid ? KorvoTheme.textPrimary : KorvoTheme.yellow
    }
}
