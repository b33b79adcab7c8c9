import QtQuick
import Korvo

// The single-line text input of every form: 44 high on a faint fill; while editing, the outline
// turns accent and glows. The control a person types into carries `identifier` as its object
// name and the placeholder as its accessible name.
Item {
    id: root
    property string placeholder
    property string text
    property bool isSecure: false
    property string identifier
    // Take keyboard focus once when first shown: on the next turn of the event loop and again
    // 0.2 s later, for windows and sheets that are not ready to take focus at first.
    property bool autoFocus: false
    property bool didAutoFocus: false
    readonly property alias field: input
    readonly property bool editing: input.activeFocus

    implicitHeight: 44

    // Replace the field's text only when it differs, so typing keeps the caret where it is.
    onTextChanged: if (input.text !== text) input.text = text

    function focusField() { input.forceActiveFocus(Qt.OtherFocusReason) }
    Component.onCompleted: {
        if (autoFocus && !didAutoFocus) {
            didAutoFocus = true
            Qt.callLater(focusField)
            retryFocus.start()
        }
    }
    Timer { id: retryFocus; interval: 200; onTriggered: root.focusField() }

    Rectangle {
        objectName: "inputBox"
        anchors.fill: parent
        radius: 8
        color: KorvoTheme.field
        border.width: 1
        border.color: KorvoTheme.white(0.1)
    }
    FocusRing { shown: root.editing; outset: 0; radius: 8 }

    TextInput {
        id: input
        objectName: root.identifier
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 14
        anchors.rightMargin: 14
        anchors.verticalCenter: parent.verticalCenter
        height: Math.max(28, implicitHeight)
        verticalAlignment: TextInput.AlignVCenter
        clip: true
        activeFocusOnTab: true
        color: KorvoTheme.white(0.94)
        selectionColor: KorvoTheme.withAlpha(KorvoTheme.accent, 0.4)
        selectedTextColor: KorvoTheme.accentText
        selectByMouse: true
        font.family: KorvoTheme.fontFamily
        font.pixelSize: 14
        font.weight: Font.Medium
        echoMode: root.isSecure ? TextInput.Password : TextInput.Normal
        passwordCharacter: "\u2022"
        text: root.text
        onTextEdited: root.text = text
        // A password field is described by AccessibleControls: "password text" with this name,
        // and bullets, never its text (Accessible.passwordEdit would blank the name on Qt 6.4).
        Accessible.role: Accessible.EditableText
        Accessible.name: root.placeholder

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
