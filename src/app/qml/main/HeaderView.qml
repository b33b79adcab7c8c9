import QtQuick
import Korvo

// Page title with the mode's subtitle, and the protection status pill.
Item {
    id: root
    readonly property bool local: KorvoStore.accessMode === KorvoStore.Local
    implicitHeight: Math.max(titles.implicitHeight, pill.height)

    Column {
        id: titles
        anchors.left: parent.left
        anchors.right: pill.left
        anchors.rightMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        spacing: 3
        KorvoText {
            width: parent.width
            text: "Protect your files"
            size: 27
            weight: Font.DemiBold
        }
        KorvoText {
            objectName: "headerSubtitle"
            width: parent.width
            text: root.local ? KorvoStore.platformText("Strong offline protection on this Mac")
                             : (KorvoStore.hasIdentity ? KorvoStore.identity.email : "Signed in")
            size: 13
            weight: Font.Medium
            color: KorvoTheme.textMuted
        }
    }

    Rectangle {
        id: pill
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        width: pillRow.implicitWidth + 22
        height: pillRow.implicitHeight + 14
        radius: height / 2
        color: KorvoTheme.thinMaterial
        border.width: 1
        border.color: KorvoTheme.border
        Row {
            id: pillRow
            anchors.centerIn: parent
            spacing: 7
            Rectangle {
                width: 7; height: 7; radius: 3.5
                color: KorvoTheme.accent
                anchors.verticalCenter: parent.verticalCenter
            }
            KorvoText {
                objectName: "statusPill"
                text: root.local ? "Local protection" : "Protection ready"
                size: 12
                weight: Font.DemiBold
                color: KorvoTheme.withAlpha(KorvoTheme.textPrimary, 0.82)
            }
        }
    }
}
