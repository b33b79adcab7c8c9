import QtQuick
import Korvo
import "../style/Format.js" as Format

// The working surface: sidebar, central column (header and workbench) and utility rail.
// Tab visits the workbench first, then the rail, then the sidebar (declaration order; the
// columns are placed by x). Ctrl+O opens the chooser.
Item {
    id: root
    readonly property bool compact: Format.isCompact(width)
    readonly property real sidebarWidth: compact ? 206 : 228
    readonly property real railWidth: compact ? 252 : 284
    readonly property real centralInset: compact ? 18 : 24
    // The account-deletion sheet is up.
    readonly property bool sheetShown: sidebar.isShowingAccountDeletion

    Shortcut {
        sequences: [StandardKey.Open]
        enabled: !KorvoStore.isBusy && !root.sheetShown
        onActivated: KorvoStore.chooseFiles()
    }

    Item {
        id: central
        objectName: "central"
        x: leftLine.x + 1
        width: rightLine.x - x
        height: root.height

        Column {
            anchors.fill: parent
            anchors.leftMargin: root.centralInset
            anchors.rightMargin: root.centralInset
            anchors.topMargin: 18
            anchors.bottomMargin: 20
            spacing: root.compact ? 16 : 20

            HeaderView { width: parent.width }
            WorkbenchView {
                width: parent.width
                compact: root.compact
            }
        }
    }
    UtilityRailView {
        id: rail
        objectName: "rail"
        compact: root.compact
        x: root.width - width
        width: root.railWidth
        height: root.height
    }
    SidebarView {
        id: sidebar
        objectName: "sidebar"
        compact: root.compact
        x: 0
        width: root.sidebarWidth
        height: root.height
    }
    Separator {
        id: leftLine
        x: sidebar.width
        height: root.height
    }
    Separator {
        id: rightLine
        x: rail.x - 1
        height: root.height
    }
}
