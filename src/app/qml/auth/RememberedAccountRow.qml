import QtQuick
import Korvo
import "../style/Format.js" as Format

// The account remembered on this computer: its initials, its e-mail and a caption.
Rectangle {
    id: root
    property string email
    readonly property string initials: Format.initials(email)
    objectName: "rememberedAccount"
    implicitHeight: 56
    radius: 10
    color: KorvoTheme.thinMaterial
    border.width: 1
    border.color: KorvoTheme.border
    Accessible.role: Accessible.StaticText
    Accessible.name: email

    Rectangle {
        id: badge
        anchors.left: parent.left
        anchors.leftMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        width: 34
        height: 34
        radius: 17
        color: KorvoTheme.withAlpha(KorvoTheme.accent, 0.12)
        KorvoText {
            objectName: "initials"
            anchors.centerIn: parent
            text: root.initials
            size: 13
            weight: Font.DemiBold
            color: KorvoTheme.accent
        }
    }
    Column {
        anchors.left: badge.right
        anchors.leftMargin: 11
        anchors.right: parent.right
        anchors.rightMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        spacing: 2
        KorvoText {
            objectName: "rememberedEmail"
            width: parent.width
            text: root.email
            size: 14
            weight: Font.DemiBold
            color: "white"
        }
        KorvoText {
            width: parent.width
            text: KorvoStore.platformText("Remembered on this Mac")
            size: KorvoTheme.captionSize + 1
            color: KorvoTheme.textDim
        }
    }
}
