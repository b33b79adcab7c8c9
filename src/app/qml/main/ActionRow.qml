import QtQuick
import Korvo

// Choose the input, then lock or open it.
Row {
    id: root
    property bool compact: false
    readonly property bool encrypt: KorvoStore.mode === KorvoStore.Encrypt
    spacing: 12

    SecondaryButton {
        objectName: "chooseButton"
        text: root.encrypt ? "Choose files or folder" : "Choose protected file"
        systemImage: "folder"
        onClicked: KorvoStore.chooseFiles()
    }
    PrimaryButton {
        objectName: "runButton"
        width: root.compact ? 176 : 210
        text: root.encrypt ? "Lock & Save" : "Open & Save"
        systemImage: root.encrypt ? "lock" : "lock.open"
        enabled: KorvoStore.selectedURLs.length > 0 && KorvoStore.activeSecretIsValid
        onClicked: KorvoStore.runFileOperation()
    }
}
