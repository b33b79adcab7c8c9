import QtQuick
import Korvo
import "../style/Format.js" as Format

// The first three chosen items, and how many more there are.
Item {
    id: root
    property var paths: KorvoStore.selectedURLs
    property real maxWidth: 400
    readonly property var shown: Format.visibleFiles(paths)
    readonly property string moreText: Format.moreFilesText(paths.length)
    implicitWidth: paths.length === 0 ? empty.implicitWidth : Math.min(maxWidth, Math.max(220, list.implicitWidth + 24))
    implicitHeight: paths.length === 0 ? empty.implicitHeight : list.implicitHeight + 18

    KorvoText {
        id: empty
        objectName: "noFiles"
        visible: root.paths.length === 0
        anchors.centerIn: parent
        text: "No files selected"
        size: 13
        weight: Font.DemiBold
        color: KorvoTheme.textMuted
    }

    MaterialBox {
        visible: root.paths.length > 0
        anchors.fill: parent
        radius: 10
        Column {
            id: list
            objectName: "fileList"
            x: 12
            anchors.verticalCenter: parent.verticalCenter
            spacing: 6
            Repeater {
                model: root.shown
                SymbolLabel {
                    icon: Format.isDirectoryPath(modelData) ? "folder.fill" : "doc.fill"
                    text: Format.lastPathComponent(modelData)
                    size: 13
                    iconSize: 15
                    weight: Font.DemiBold
                    iconColor: KorvoTheme.accent
                    label.width: Math.min(label.implicitWidth, root.maxWidth - 24 - iconSize - spacing)
                }
            }
            KorvoText {
                objectName: "moreFiles"
                visible: root.moreText.length > 0
                text: root.moreText
                size: KorvoTheme.captionSize + 1
                weight: Font.DemiBold
                color: KorvoTheme.textMuted
            }
        }
    }
}
