import QtQuick
import Korvo

// Receives files and folders dragged from the file manager and lists the selection.
Item {
    id: root
    readonly property bool encrypt: KorvoStore.mode === KorvoStore.Encrypt
    readonly property bool local: KorvoStore.accessMode === KorvoStore.Local
    readonly property bool isTargeted: drop.containsDrag
    readonly property bool isHovering: hover.hovered
    readonly property string subtitle: encrypt ? "Folders and multiple files are bundled automatically."
                                       : (local ? KorvoStore.platformText("Open files protected in local mode on this Mac.")
                                                : "Use the matching Korvo to open protected files.")
    implicitHeight: Math.max(190, column.implicitHeight + 40)

    HoverHandler { id: hover }

    Item {
        id: zone
        anchors.fill: parent
        scale: root.isTargeted ? 1.004 : 1
        Behavior on scale { NumberAnimation { duration: 250; easing.type: Easing.OutCubic } }

        Rectangle {
            anchors.fill: parent
            radius: 16
            color: root.isTargeted ? KorvoTheme.white(0.05) : KorvoTheme.dropZone
            Behavior on color { ColorAnimation { duration: 200 } }
        }
        DashedRoundedRect {
            anchors.fill: parent
            radius: 16
            strokeColor: root.isTargeted ? KorvoTheme.withAlpha(KorvoTheme.accent, 0.8)
                                         : (root.isHovering ? KorvoTheme.white(0.2) : KorvoTheme.strongBorder)
        }

        Column {
            id: column
            anchors.centerIn: parent
            width: parent.width - 40
            spacing: 14

            Icon {
                id: icon
                objectName: "dropIcon"
                anchors.horizontalCenter: parent.horizontalCenter
                width: 58; height: 58
                size: 58
                name: root.encrypt ? "tray.and.arrow.down.fill" : "doc.badge.arrow.up"
                color: KorvoTheme.accent
                SequentialAnimation {
                    id: bounce
                    NumberAnimation { target: icon; property: "scale"; to: 1.18; duration: 120; easing.type: Easing.OutQuad }
                    NumberAnimation { target: icon; property: "scale"; to: 1; duration: 260; easing.type: Easing.OutBack }
                }
            }
            Column {
                anchors.horizontalCenter: parent.horizontalCenter
                width: parent.width
                spacing: 4
                KorvoText {
                    objectName: "dropTitle"
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    text: root.encrypt ? "Drop files or folders here" : "Drop a protected file here"
                    size: 17
                    weight: Font.DemiBold
                }
                KorvoText {
                    objectName: "dropSubtitle"
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    text: root.subtitle
                    size: 12
                    weight: Font.DemiBold
                    color: KorvoTheme.textMuted
                }
            }
            SelectedFilesView {
                anchors.horizontalCenter: parent.horizontalCenter
                maxWidth: parent.width
            }
        }
    }

    DropArea {
        id: drop
        anchors.fill: parent
        onEntered: (drag) => drag.accepted = drag.hasUrls
        onDropped: (event) => {
            // The store replaces the selection with the dropped local files; other items are ignored.
            KorvoStore.loadFileURLs(event.urls)
            event.acceptProposedAction()
            bounce.restart()
        }
    }
}
