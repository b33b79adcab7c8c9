import QtQuick
import Korvo

// One Korvo in the list; tapping it (or Space while it has focus) makes it the key for new files.
Rectangle {
    id: root
    property var secret: ({})
    property var selectedSecretId
    // Korvo numbers go past 2^31: carried as a double (exact to 2^53), never as an int.
    signal activated(double secretId)
    readonly property double secretId: secret.secretId !== undefined ? secret.secretId : -1
    readonly property bool isSelected: selectedSecretId !== undefined && selectedSecretId !== null
                                       && Number(selectedSecretId) === secretId
    readonly property bool isSyncing: secret.isSyncing !== undefined && secret.isSyncing !== null
                                      && secret.isSyncing !== 0
    readonly property bool isHovering: mouse.containsMouse

    implicitHeight: Math.max(44, texts.implicitHeight + 20)
    radius: 10
    color: KorvoTheme.white(isSelected ? 0.085 : (isHovering ? 0.06 : 0.03))
    border.width: 1
    border.color: isSelected ? KorvoTheme.withAlpha(KorvoTheme.accent, 0.35) : KorvoTheme.border
    Behavior on color { ColorAnimation { duration: 150 } }

    activeFocusOnTab: true
    Keys.onSpacePressed: root.activated(root.secretId)
    Accessible.role: Accessible.RadioButton
    Accessible.name: "Korvo #" + secretId
    Accessible.checkable: true
    Accessible.checked: isSelected
    Accessible.onPressAction: root.activated(root.secretId)
    FocusRing { shown: root.activeFocus; radius: root.radius + outset }

    Icon {
        id: lead
        objectName: "secretIcon"
        anchors.left: parent.left
        anchors.leftMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        name: root.isSyncing ? "hourglass" : "key.fill"
        size: 17
        color: root.isSyncing ? KorvoTheme.textMuted : KorvoTheme.accent
    }
    Column {
        id: texts
        anchors.left: lead.right
        anchors.leftMargin: 10
        anchors.right: check.left
        anchors.rightMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        spacing: 2
        KorvoText {
            width: parent.width
            text: "Korvo #" + root.secretId
            size: 14
            weight: Font.DemiBold
        }
        KorvoText {
            objectName: "usedForNewFiles"
            visible: root.isSelected
            width: parent.width
            text: "Used for new files"
            size: 11
            color: KorvoTheme.textMuted
        }
    }
    Icon {
        id: check
        objectName: "selectedCheck"
        anchors.right: parent.right
        anchors.rightMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        visible: root.isSelected
        width: visible ? implicitWidth : 0
        name: "checkmark.circle.fill"
        size: 17
        color: KorvoTheme.accent
    }
    MouseArea {
        id: mouse
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: root.activated(root.secretId)
    }
}
