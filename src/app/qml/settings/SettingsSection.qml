import QtQuick
import Korvo

// A titled group of rows on a rounded box, as in a grouped form.
Column {
    id: root
    property string title
    default property alias rows: box.data
    spacing: 6

    KorvoText {
        visible: root.title.length > 0
        leftPadding: 8
        text: root.title
        size: KorvoTheme.bodySize
        weight: Font.DemiBold
        color: KorvoTheme.secondaryText
    }
    Rectangle {
        width: parent.width
        height: box.implicitHeight + 20
        radius: 10
        color: KorvoTheme.white(0.05)
        border.width: 1
        border.color: KorvoTheme.border
        Column {
            id: box
            x: 12
            y: 10
            width: parent.width - 24
            spacing: 8
        }
    }
}
