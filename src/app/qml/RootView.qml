import QtQuick
import QtQuick.Controls.Basic
import Korvo

// The main window's content: the background layers, the screen of the current route, the busy
// overlay and the error alert.
Item {
    id: root
    implicitWidth: 1240
    implicitHeight: 760

    readonly property int route: KorvoStore.route

    function screenFor(route) {
        switch (route) {
        case KorvoStore.Main: return mainScreen
        default: return loginScreen
        }
    }

    BackgroundGradient { anchors.fill: parent }
    MacVisualEffectView { anchors.fill: parent; material: "window"; opacity: 0.58 }

    Component { id: mainScreen; MainView {} }
    Component { id: loginScreen; LoginView {} }

    StackView {
        id: screens
        objectName: "screens"
        anchors.fill: parent
        initialItem: root.screenFor(root.route)
        readonly property int springDuration: 320

        replaceEnter: Transition {
            ParallelAnimation {
                NumberAnimation { property: "opacity"; from: 0; to: 1; duration: screens.springDuration; easing.type: Easing.OutCubic }
                NumberAnimation { property: "scale"; from: 0.985; to: 1; duration: screens.springDuration; easing.type: Easing.OutCubic }
            }
        }
        replaceExit: Transition {
            ParallelAnimation {
                NumberAnimation { property: "opacity"; from: 1; to: 0; duration: screens.springDuration; easing.type: Easing.OutCubic }
                NumberAnimation { property: "scale"; from: 1; to: 0.985; duration: screens.springDuration; easing.type: Easing.OutCubic }
            }
        }
    }

    // Screens are rebuilt on every route change, so their fields start empty.
    onRouteChanged: screens.replace(null, screenFor(route))

    BusyOverlay {
        objectName: "busyOverlay"
        anchors.fill: parent
        message: KorvoStore.statusMessage
        opacity: KorvoStore.isBusy ? 1 : 0
        visible: opacity > 0
        Behavior on opacity { NumberAnimation { duration: 160; easing.type: Easing.InOutQuad } }
    }

    ErrorAlert {
        objectName: "errorAlert"
        message: KorvoStore.errorMessage
        onDismissed: KorvoStore.errorMessage = ""
    }
}
