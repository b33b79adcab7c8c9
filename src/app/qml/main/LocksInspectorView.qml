import QtQuick
import QtQuick.Controls.Basic
import Korvo

// The signed-in user's Korvos, with refresh and "New Korvo".
Item {
    id: root
    objectName: "korvoList"
    property var secrets: KorvoStore.secrets

    Item {
        id: header
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.margins: 18
        height: 26
        KorvoText {
            anchors.verticalCenter: parent.verticalCenter
            text: "Korvos"
            size: 15
            weight: Font.DemiBold
        }
        CircleIconButton {
            objectName: "refreshKorvos"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            diameter: 26
            fillOpacity: 0.055
            helpText: "Refresh Korvos"
            onClicked: KorvoStore.refreshSecrets()
        }
    }

    Column {
        objectName: "noKorvos"
        visible: root.secrets.length === 0
        anchors.centerIn: body
        width: body.width
        spacing: 6
        Icon {
            anchors.horizontalCenter: parent.horizontalCenter
            name: "key"
            size: 30
            color: KorvoTheme.textMuted
        }
        KorvoText {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "No Korvos"
            size: 15
            weight: Font.Bold
        }
        KorvoText {
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: "Create one to protect your first file."
            color: KorvoTheme.textMuted
            wrapMode: Text.Wrap
            elide: Text.ElideNone
        }
    }

    ListView {
        id: body
        objectName: "korvoRows"
        anchors.top: header.bottom
        anchors.topMargin: 14
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: footer.top
        anchors.bottomMargin: 14
        anchors.leftMargin: 18
        anchors.rightMargin: 8
        clip: true
        spacing: 7
        visible: root.secrets.length > 0
        model: root.secrets
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: KorvoScrollBar {}
        delegate: SecretRow {
            width: ListView.view.width - 10
            secret: modelData
            selectedSecretId: KorvoStore.selectedSecretId
            onActivated: (secretId) => KorvoStore.setSelectedSecret(secretId)
            // A row reached with Tab scrolls into view.
            onActiveFocusChanged: if (activeFocus) ListView.view.positionViewAtIndex(index, ListView.Contain)
        }
    }

    PrimaryButton {
        id: footer
        objectName: "newKorvo"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.margins: 18
        text: "New Korvo"
        systemImage: "plus"
        onClicked: KorvoStore.createSecret()
    }
}
