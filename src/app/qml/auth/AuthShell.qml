import QtQuick
import QtQuick.Controls.Basic
import Korvo

// The frame of the sign-in screens: brand mark, title, subtitle and a 420-point panel, centred
// in a scroll view that is at least as tall as the window. Return presses `defaultButton`.
Flickable {
    id: root
    property string title
    property string subtitle
    property Item defaultButton
    default property alias content: panelContent.data
    contentWidth: width
    contentHeight: Math.max(height, column.implicitHeight + 56)
    boundsBehavior: Flickable.StopAtBounds
    clip: true

    function pressDefaultButton() {
        if (defaultButton && defaultButton.enabled && defaultButton.visible && !KorvoStore.isBusy)
            defaultButton.clicked()
    }
    Keys.onReturnPressed: pressDefaultButton()
    Keys.onEnterPressed: pressDefaultButton()

    Column {
        id: column
        anchors.centerIn: parent
        width: 420
        spacing: 17
        BrandMarkImage { size: 74; anchors.horizontalCenter: parent.horizontalCenter }
        Column {
            width: parent.width + 80
            anchors.horizontalCenter: parent.horizontalCenter
            spacing: 5
            KorvoText {
                objectName: "authTitle"
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                text: root.title
                size: 32
                weight: Font.DemiBold
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            KorvoText {
                objectName: "authSubtitle"
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                text: root.subtitle
                size: 13
                weight: Font.Medium
                color: KorvoTheme.textMuted
                wrapMode: Text.Wrap
                elide: Text.ElideNone
            }
        }
        KorvoPanel {
            width: parent.width
            padding: 20
            implicitHeight: panelContent.implicitHeight + 40
            Column {
                id: panelContent
                width: parent.width
                spacing: 12
            }
        }
    }
}
