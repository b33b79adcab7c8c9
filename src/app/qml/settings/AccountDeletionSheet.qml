import QtQuick
import Korvo

// The account-deletion sheet, built only while it is presented and until it has faded out, so a
// window that never shows it neither builds nor holds it.
Loader {
    id: root
    property bool isPresented: false
    signal dismissed()

    active: isPresented || (item !== null && item.visible)
    sourceComponent: DeleteAccountView {
        isPresented: root.isPresented
        onDismissed: root.dismissed()
    }
}
