import QtQuick
import Korvo

// The other person's Korvo number. Only numeric characters survive typing or pasting; the
// outline follows the lookup state.
Rectangle {
    id: root
    property string text
    property int lookupState: KorvoStore.Idle
    signal edited(string digits)
    readonly property alias input: field

    radius: 8
    color: KorvoTheme.field
    // The look-up's colour: red once the number is known to be unavailable.
    readonly property color stateColor: lookupState === KorvoStore.Unavailable ? KorvoTheme.destructive : KorvoTheme.accent
    border.width: field.activeFocus ? 1.5 : 1
    border.color: {
        switch (lookupState) {
        case KorvoStore.Ready: return KorvoTheme.withAlpha(KorvoTheme.accent, 0.7)
        case KorvoStore.Unavailable: return KorvoTheme.withAlpha(KorvoTheme.destructive, 0.75)
        case KorvoStore.Checking: return KorvoTheme.withAlpha(KorvoTheme.accent, 0.35)
        default: return field.activeFocus ? KorvoTheme.withAlpha(KorvoTheme.accent, 0.88) : KorvoTheme.strongBorder
        }
    }
    // While typing, the ring lies on the outline, so it takes the look-up's colour.
    FocusRing { objectName: "recipientFocusRing"; shown: field.activeFocus; outset: 0; radius: root.radius; color: root.stateColor }

    // Binding to field: replace the field's text only when it differs, so the caret stays.
    onTextChanged: if (field.text !== text) field.text = text

    TextInput {
        id: field
        objectName: "recipientInput"
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        verticalAlignment: TextInput.AlignVCenter
        horizontalAlignment: TextInput.AlignRight
        color: "white"
        selectionColor: KorvoTheme.withAlpha(KorvoTheme.accent, 0.4)
        selectByMouse: true
        clip: true
        activeFocusOnTab: true
        Accessible.role: Accessible.EditableText
        Accessible.name: "Korvo number"
        // Digits of equal width, so a number keeps its shape as it is typed.
        font.family: KorvoTheme.digitsFamily
        font.pixelSize: 15
        font.weight: Font.DemiBold
        text: root.text
        onTextEdited: {
            var digits = FormRules.numericCharactersOnly(text)
            if (digits !== text) {
                var caret = cursorPosition - (text.length - digits.length)
                text = digits
                cursorPosition = Math.max(0, Math.min(caret, digits.length))
            }
            root.edited(digits)
        }

        KorvoText {
            anchors.fill: parent
            horizontalAlignment: Text.AlignRight
            visible: field.text.length === 0
            text: "25"
            size: 15
            weight: Font.DemiBold
            font.family: KorvoTheme.digitsFamily
            color: KorvoTheme.white(0.35)
        }
    }
}
