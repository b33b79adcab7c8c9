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
    // A sheet of the current screen is up: the alert waits until it closes.
    readonly property bool sheetShown: screens.currentItem !== null && screens.currentItem.sheetShown === true

    function screenFor(route) {
        switch (route) {
        case KorvoStore.Main: return mainScreen
        case KorvoStore.CreateAccount: return createAccountScreen
        case KorvoStore.VerifyOtp: return verifyOtpScreen
        case KorvoStore.ForgotPassword: return forgotPasswordScreen
        case KorvoStore.ResetPassword: return resetPasswordScreen
        default: return loginScreen
        }
    }

    Component { id: mainScreen; MainView {} }
    Component { id: loginScreen; LoginView {} }
    Component { id: createAccountScreen; CreateAccountView {} }
    Component {
        id: verifyOtpScreen
        VerifyOtpView {
            email: KorvoStore.routeEmail
            password: KorvoStore.routePassword
            principalId: KorvoStore.routePrincipalId
        }
    }
    Component { id: forgotPasswordScreen; ForgotPasswordView {} }
    Component { id: resetPasswordScreen; ResetPasswordView { email: KorvoStore.routeEmail } }

    // Everything the overlays blur.
    Item {
        id: contentLayer
        anchors.fill: parent

        BackgroundGradient { anchors.fill: parent }
        MacVisualEffectView { anchors.fill: parent; material: "window"; opacity: 0.58 }

        StackView {
            id: screens
            objectName: "screens"
            anchors.fill: parent
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
    }

    // Screens are rebuilt on every route change, so their fields start empty. The first screen
    // comes in without a transition once the view is complete (the route's first value arrives
    // while it is still being built, and must not stack a second screen).
    property bool complete: false
    function showRoute() {
        if (!complete)
            return
        screens.replace(null, screenFor(route), {}, screens.depth === 0 ? StackView.Immediate : StackView.Transition)
        focusBeforeBusy = null
        if (!KorvoStore.isBusy)
            forceActiveFocus()
    }
    onRouteChanged: showRoute()
    Component.onCompleted: {
        complete = true
        showRoute()
    }
    // The window holds the keyboard from the start, so the first Tab reaches the first control;
    // after a route change Tab starts again from the top of the new screen.
    focus: true

    // While the overlay is up the content stands still. It is taken once, as one picture that
    // stands in for all its items under the overlay's fade and is what the overlay blurs, and
    // left out of the window's frames until the overlay starts to leave.
    ShaderEffectSource {
        id: frozenContent
        anchors.fill: parent
        sourceItem: contentLayer
        live: false
        hideSource: busy.visible && KorvoStore.isBusy
        visible: hideSource && busy.opacity < 1
        onHideSourceChanged: if (hideSource) scheduleUpdate()
    }

    BusyOverlay {
        id: busy
        objectName: "busyOverlay"
        anchors.fill: parent
        backdrop: frozenContent
        message: KorvoStore.statusMessage
        progress: KorvoStore.progress
        opacity: 0
        visible: opacity > 0
    }
    // The overlay's first frame takes the content and blurs it, which a software renderer needs a
    // while for. It is drawn all but clear, and the fade starts once it is on screen: every step
    // of a fade asks the window's thread for a frame, and that thread would wait on this one.
    NumberAnimation {
        id: busyFade
        target: busy
        property: "opacity"
        easing.type: Easing.InOutQuad
        function go(value) {
            stop()
            to = value
            duration = Math.round(160 * Math.abs(value - busy.opacity))
            start()
        }
    }
    Connections {
        id: busyFirstFrame
        target: root.Window.window
        enabled: false
        function onFrameSwapped() {
            busyFirstFrame.enabled = false
            busyFade.go(1)
        }
    }
    function showBusy(shown) {
        busyFade.stop()
        busyFirstFrame.enabled = shown && busy.opacity === 0
        if (busyFirstFrame.enabled)
            busy.opacity = 0.02
        else
            busyFade.go(shown ? 1 : 0)
    }

    // The overlay's first appearance would build its effects (the shaders, the blur's passes, the
    // card's glyphs) while the work has begun and the window waits on them. A copy is drawn out of
    // sight for a few frames once the window has shown itself, in each look the real one takes
    // (fading in, the spinner, the bar), so the real one finds them built.
    Loader {
        id: overlayWarmUp
        objectName: "overlayWarmUp"
        // Frames left to draw the copy in; -1 before the window has shown itself.
        property int framesLeft: -1
        anchors.fill: parent
        active: framesLeft > 0
        sourceComponent: BusyOverlay {
            backdrop: contentLayer
            message: "Locking file..."
            opacity: overlayWarmUp.framesLeft > 4 ? 0.5 : 1
            progress: overlayWarmUp.framesLeft > 2 ? null : warmUpFigures
            enabled: false
            Accessible.ignored: true
            transform: Translate { x: overlayWarmUp.width + 200 }
        }
        QtObject {
            id: warmUpFigures
            readonly property bool visible: true
            readonly property real fraction: 0.5
            readonly property string text: "1.0 GB of 2.0 GB, about 5 s left"
            readonly property bool cancellable: true
        }
        Timer {
            id: warmUpDelay
            interval: 300
            onTriggered: overlayWarmUp.framesLeft = KorvoStore.isBusy ? 0 : 6
        }
        // The picture of the content is drawn with the shaders its items need, and a software
        // renderer builds them the first time it draws each kind of item into a picture: new
        // content (a chosen file, a finished job's row) would have the next job's first frame
        // build them. So once the window rests after such a change, the copy takes one more look.
        Timer {
            id: warmUpAgain
            interval: 400
            onTriggered: if (!KorvoStore.isBusy && overlayWarmUp.framesLeft === 0) overlayWarmUp.framesLeft = 2
        }
        Connections {
            target: KorvoStore
            function onIsBusyChanged() {
                if (KorvoStore.isBusy)
                    overlayWarmUp.framesLeft = Math.min(overlayWarmUp.framesLeft, 0)
                warmUpAgain.restart()
            }
            function onSelectedURLsChanged() { warmUpAgain.restart() }
            function onRouteChanged() { warmUpAgain.restart() }
        }
        Connections {
            target: root.Window.window
            enabled: overlayWarmUp.framesLeft !== 0
            function onFrameSwapped() {
                if (overlayWarmUp.framesLeft > 0) {
                    --overlayWarmUp.framesLeft
                    root.Window.window.update()
                } else if (!warmUpDelay.running) {
                    warmUpDelay.start()
                }
            }
        }
    }

    // While busy the overlay holds the keyboard (Return cannot start the action twice); the
    // control that had focus gets it back afterwards, or once the error alert is dismissed,
    // when it still exists.
    property Item focusBeforeBusy: null
    function restoreFocus() {
        if (focusBeforeBusy && focusBeforeBusy.visible)
            focusBeforeBusy.forceActiveFocus()
        else
            forceActiveFocus()
    }
    Connections {
        target: KorvoStore
        Component.onCompleted: if (KorvoStore.isBusy) root.showBusy(true)
        function onIsBusyChanged() {
            root.showBusy(KorvoStore.isBusy)
            if (KorvoStore.isBusy) {
                root.focusBeforeBusy = root.Window.activeFocusItem
                busy.forceActiveFocus()
            } else if (!alert.opened && busy.activeFocus) {
                root.restoreFocus()
            }
        }
    }

    ErrorAlert {
        id: alert
        objectName: "errorAlert"
        message: KorvoStore.errorMessage
        held: root.sheetShown
        onDismissed: KorvoStore.errorMessage = ""
    }
    Connections {
        target: alert
        function onClosed() { if (!root.sheetShown) root.restoreFocus() }
    }
}
