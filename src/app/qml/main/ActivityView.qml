import QtQuick
import QtQuick.Controls.Basic
import Korvo

// Recent activity of the current access mode, newest first.
Item {
    id: root
    property var items: KorvoStore.activities

    KorvoText {
        id: heading
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.topMargin: 16
        anchors.leftMargin: 18
        text: "Recent activity"
        size: 15
        weight: Font.DemiBold
        color: KorvoTheme.textPrimary
    }

    Column {
        objectName: "activityEmpty"
        visible: root.items.length === 0
        anchors.centerIn: list
        spacing: 8
        Icon {
            anchors.horizontalCenter: parent.horizontalCenter
            name: "clock.arrow.circlepath"
            size: KorvoTheme.titleSize + 4
            color: KorvoTheme.textMuted
        }
        KorvoText {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Finished files will appear here."
            weight: Font.DemiBold
            color: KorvoTheme.textMuted
        }
    }

    ListView {
        id: list
        objectName: "activityList"
        anchors.top: heading.bottom
        anchors.topMargin: 8
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.leftMargin: 18
        anchors.rightMargin: 8
        anchors.bottomMargin: 12
        clip: true
        visible: root.items.length > 0
        model: root.items
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: KorvoScrollBar { objectName: "activityScrollBar" }
        // Room on the right for the scroll bar.
        delegate: ActivityRow {
            width: ListView.view.width - 10
            item: modelData
            showDivider: index < root.items.length - 1
        }
    }
}
