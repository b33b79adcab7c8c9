import QtQuick
import Korvo

// The brand mark and the product name at the top of the sidebar, with a small settings control:
// where the platform has no application menu, this is how the mouse reaches the settings window.
Item {
    id: root
    implicitHeight: brand.implicitHeight

    Row {
        id: brand
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
    CircleIconButton {
        objectName: "settingsButton"
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        systemImage: "gearshape"
        diameter: 26
        helpText: "Settings (Ctrl+,)"
        onClicked: AppDelegate.showSettings()
    }
}
