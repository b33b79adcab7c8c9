import QtQuick
import Korvo

// The right-hand rail: the Korvo list (account) or the local summary, above recent activity.
Item {
    id: root
    property bool compact: false
    readonly property bool local: KorvoStore.accessMode === KorvoStore.Local

    Rectangle { anchors.fill: parent; color: KorvoTheme.black(0.06) }

    Loader {
        id: upper
        objectName: "railUpper"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: line.top
        sourceComponent: root.local ? summary : inspector
    }
    Component { id: summary; LocalProtectionSummary {} }
    Component { id: inspector; LocksInspectorView {} }

    Separator {
        id: line
        horizontal: true
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: activity.top
    }
    ActivityView {
        id: activity
        objectName: "activityView"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: root.compact ? 246 : 270
    }
}
