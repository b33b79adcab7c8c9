import QtQuick
import QtQuick.Controls.Basic
import Korvo

// How the lookup of the typed Korvo number stands, with a help text on hover.
Item {
    id: root
    property int lookupState: KorvoStore.Idle
    readonly property string helpText: {
        switch (lookupState) {
        case KorvoStore.Checking: return "Checking Korvo"
        case KorvoStore.Ready: return "Korvo ready"
        case KorvoStore.Unavailable: return "Korvo unavailable"
        default: return "Enter a Korvo number"
        }
    }
    implicitWidth: 18
    Accessible.role: Accessible.StaticText
    Accessible.name: helpText
    implicitHeight: 18

    HoverHandler { id: hover }
    ToolTip.visible: hover.hovered
    ToolTip.delay: 500
    ToolTip.text: helpText

    Spinner {
        anchors.centerIn: parent
        diameter: 16
        visible: root.lookupState === KorvoStore.Checking
    }
    Icon {
        objectName: "statusIcon"
        anchors.centerIn: parent
        visible: root.lookupState !== KorvoStore.Checking
        size: 17
        name: root.lookupState === KorvoStore.Ready ? "checkmark.circle.fill"
            : root.lookupState === KorvoStore.Unavailable ? "exclamationmark.circle.fill" : "number"
        color: root.lookupState === KorvoStore.Ready ? KorvoTheme.accent
             : root.lookupState === KorvoStore.Unavailable ? KorvoTheme.destructive : KorvoTheme.textDim
    }
}
