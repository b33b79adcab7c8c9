import QtQuick
import Korvo

// Four bars and a line of advice for the password being chosen.
Column {
    id: root
    property string password
    readonly property int score: FormRules.passwordScore(password)
    readonly property string advice: FormRules.strengthText(score)
    spacing: 7
    Accessible.role: Accessible.StaticText
    Accessible.name: advice

    Row {
        width: parent.width
        spacing: 4
        Repeater {
            model: 4
            Rectangle {
                objectName: "strengthBar" + index
                width: (root.width - 3 * 4) / 4
                height: 3
                radius: 1.5
                color: index < root.score ? KorvoTheme.accent : KorvoTheme.white(0.075)
                Behavior on color { ColorAnimation { duration: 150 } }
            }
        }
    }
    KorvoText {
        objectName: "strengthText"
        width: parent.width
        text: root.advice
        size: KorvoTheme.captionSize + 1
        color: KorvoTheme.textDim
    }
}
