import QtQuick
import Korvo
import "../style/Format.js" as Format

// Used against limit for one direction (protect or open), tinted as the limit nears.
Column {
    id: root
    property string title
    property string systemImage
    property var stats: ({})
    readonly property real used: Number(stats.used) || 0
    readonly property real limit: Number(stats.limit) || 0
    readonly property real fraction: Format.gaugeFraction(used, limit)
    readonly property color tint: KorvoTheme.tint(Format.gaugeTint(used, limit))
    property real shownFraction: fraction
    Behavior on shownFraction { NumberAnimation { duration: 350; easing.type: Easing.OutCubic } }
    spacing: 5

    Accessible.role: Accessible.ProgressBar
    Accessible.name: title
    Accessible.description: Format.gaugeAccessibleValue(stats.used, stats.remaining)

    // Title and amounts share one row.
    Item {
        width: parent.width
        height: Math.max(head.implicitHeight, amounts.implicitHeight)
        SymbolLabel {
            id: head
            anchors.verticalCenter: parent.verticalCenter
            icon: root.systemImage
            text: root.title
            size: 11
            iconSize: 12
            weight: Font.DemiBold
            spacing: 4
        }
        KorvoText {
            id: amounts
            objectName: "gaugeAmounts"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: Format.usageAmountsText(root.stats.used, root.stats.limit)
            size: 10
            weight: Font.DemiBold
            color: KorvoTheme.textMuted
        }
    }
    Rectangle {
        id: track
        objectName: "gaugeTrack"
        width: parent.width
        height: 5
        radius: 2.5
        color: KorvoTheme.white(0.08)
        Rectangle {
            objectName: "gaugeFill"
            height: parent.height
            radius: parent.radius
            color: root.tint
            visible: root.shownFraction > 0
            width: root.shownFraction > 0 ? Math.max(2, track.width * root.shownFraction) : 0
        }
    }
    Item {
        readonly property bool stacked: left.implicitWidth + count.implicitWidth + 6 > width
        width: parent.width
        height: stacked ? left.implicitHeight + count.implicitHeight : left.implicitHeight
        KorvoText {
            id: left
            objectName: "gaugeRemaining"
            text: Format.remainingText(root.stats.remaining)
            size: 10
            weight: Font.Medium
            color: KorvoTheme.textMuted
        }
        KorvoText {
            id: count
            objectName: "gaugeCount"
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            text: Format.actionCountText(root.stats.count)
            size: 10
            weight: Font.Medium
            color: KorvoTheme.textDim
        }
    }
}
