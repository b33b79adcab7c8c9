import QtQuick
import Korvo

// The brand mark and the product name at the top of the sidebar.
Row {
    spacing: 10
    leftPadding: 2
    rightPadding: 2
    BrandMarkImage { size: 44 }
    KorvoText {
        anchors.verticalCenter: parent.verticalCenter
        text: "Korvo"
        size: 24
        weight: Font.DemiBold
    }
}
