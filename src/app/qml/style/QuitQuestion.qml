import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Korvo

// "Quit Korvo?" over the window while a job runs. Open exactly while `shown` (the answer's
// receiver lowers it); "Quit" answers true; "Cancel", Escape and Return answer false.
Popup {
    id: question
    property bool shown: false
    signal answered(bool quit)
    readonly property string title: "Quit Korvo?"
    readonly property string text: "An operation is still running. Quitting cancels it and removes its unfinished files."

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    closePolicy: Popup.NoAutoClose
    width: 340
    padding: 20
    onShownChanged: if (shown) open(); else close()
    Component.onCompleted: if (shown) open()

    T.Overlay.modal: Rectangle { color: KorvoTheme.black(0.3) }

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

    contentItem: FocusScope {
        implicitHeight: column.implicitHeight
        Accessible.role: Accessible.Dialog
        Accessible.name: question.title
        Accessible.description: question.text
        Keys.onEscapePressed: question.answered(false)
        Column {
            id: column
            width: parent.width
            spacing: 10
            BrandMarkImage { size: 52; anchors.horizontalCenter: parent.horizontalCenter }
            KorvoText {
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                text: question.title
                size: 13
                weight: Font.Bold
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            KorvoText {
                objectName: "quitQuestionText"
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                elide: Text.ElideNone
                text: question.text
                size: 11
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
            Item { width: 1; height: 4 }
            RowLayout {
                width: parent.width
                spacing: 8
                SettingsButton {
                    objectName: "quitQuestionCancel"
                    Layout.fillWidth: true
                    text: "Cancel"
                    isDefault: true
                    focus: true
                    onClicked: question.answered(false)
                    Keys.onReturnPressed: question.answered(false)
                    Keys.onEnterPressed: question.answered(false)
                }
                SettingsButton {
                    objectName: "quitQuestionQuit"
                    Layout.fillWidth: true
                    text: "Quit"
                    destructive: true
                    onClicked: question.answered(true)
                }
            }
        }
    }
}
