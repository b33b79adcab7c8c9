import QtQuick
import QtQuick.Controls.Basic
import Korvo

// The single-line text input of every form: 44 high, faint fill, accent outline while editing.
Rectangle {
    id: root
    property string placeholder
    property string text
    property bool isSecure: false
    property string identifier
    property bool autoFocus: false
    readonly property alias field: input

    objectName: identifier
    Accessible.name: identifier
    implicitHeight: 44
    radius: 8
    color: KorvoTheme.white(0.065)
    border.width: input.activeFocus ? 1.5 : 1
    border.color: input.activeFocus ? KorvoTheme.withAlpha(KorvoTheme.accent, 0.88) : KorvoTheme.white(0.1)

    // Replace the field's text only when it differs, so typing keeps the caret where it is.
    onTextChanged: if (input.text !== text) input.text = text

    TextInput {
        id: input
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 14
        anchors.rightMargin: 14
        anchors.verticalCenter: parent.verticalCenter
        height: Math.max(28, implicitHeight)
        verticalAlignment: TextInput.AlignVCenter
        clip: true
        color: KorvoTheme.white(0.94)
        selectionColor: KorvoTheme.withAlpha(KorvoTheme.accent, 0.4)
        selectByMouse: true
        font.family: KorvoTheme.fontFamily
        font.pixelSize: 14
        font.weight: Font.Medium
        echoMode: root.isSecure ? TextInput.Password : TextInput.Normal
        text: root.text
        onTextEdited: root.text = text
        Component.onCompleted: if (root.autoFocus) Qt.callLater(input.forceActiveFocus)

        KorvoText {
            anchors.fill: parent
            visible: input.text.length === 0
            text: root.placeholder
            size: 14
            weight: Font.Medium
            color: KorvoTheme.white(0.3)
        }
    }
}
