import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Korvo

// A modal alert titled "Korvo" that shows `message` whenever it is not empty and the alert is
// not held back (a sheet is up: the alert follows once it closes). Dismissing it in any way
// (OK, Return, Space, Escape) reports `dismissed`.
Popup {
    id: alert
    property string message
    property bool held: false
    readonly property bool wanted: message.length > 0 && !held
    signal dismissed()
    readonly property string title: "Korvo"

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    width: 300
    padding: 20
    onWantedChanged: if (wanted) open(); else close()
    Component.onCompleted: if (wanted) open()
    onClosed: if (wanted) dismissed()

    T.Overlay.modal: Item {
        BackdropBlur { anchors.fill: parent }
        Rectangle { anchors.fill: parent; color: KorvoTheme.black(0.3) }
    }

    background: Item {
        SoftShadow { target: plate; shadowOpacity: 0.4; radiusPoints: 20; offsetY: 6 }
        Rectangle {
            id: plate
            anchors.fill: parent
            radius: 12
            color: Qt.rgba(0.17, 0.18, 0.18, 0.98)
            border.width: 1
            border.color: KorvoTheme.strongBorder
        }
    }

    contentItem: Column {
        spacing: 10
        Accessible.role: Accessible.AlertMessage
        Accessible.name: alert.title
        Accessible.description: alert.message
        BrandMarkImage { size: 52; anchors.horizontalCenter: parent.horizontalCenter }
        KorvoText {
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: alert.title
            size: 13
            weight: Font.Bold
        }
        KorvoText {
            objectName: "alertMessage"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            elide: Text.ElideNone
            text: alert.message
            size: 11
            color: KorvoTheme.textPrimary
        }
        Item { width: 1; height: 4 }
        KorvoPressButton {
            id: okButton
            objectName: "alertOk"
            width: parent.width
            implicitHeight: 28
            text: "OK"
            focus: true
            focusRadius: 7
            onClicked: alert.close()
            Keys.onReturnPressed: alert.close()
            Keys.onEnterPressed: alert.close()
            contentItem: KorvoText {
                text: okButton.text
                size: 13
                weight: Font.DemiBold
                color: KorvoTheme.accentText
                horizontalAlignment: Text.AlignHCenter
            }
            background: Rectangle {
                radius: 7
                color: okButton.hovered ? KorvoTheme.accentHover : KorvoTheme.accent
            }
        }
    }
}
