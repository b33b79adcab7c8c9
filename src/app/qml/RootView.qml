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

    // While the overlay is up the content stands still. It is taken as one picture, which stands
    // in for all its items under the overlay's fade and is what the overlay blurs, and the content
    // is left out of the window's frames until the overlay starts to leave. The picture is taken
    // ahead, while the window rests (see overlayWarmUp), so a job's first frames cost no more
    // than any other: the window as it was when the job was started.
    ShaderEffectSource {
        id: frozenContent
        anchors.fill: parent
        sourceItem: contentLayer
        live: false
        hideSource: busy.visible && KorvoStore.isBusy
        visible: hideSource && busy.opacity < 1
    }

    BusyOverlay {
        id: busy
        objectName: "busyOverlay"
        anchors.fill: parent
        backdrop: frozenContent
        message: KorvoStore.statusMessage
        holdsInput: KorvoStore.isBusy
        progress: overlayWarmUp.framesLeft === 1 ? warmUpFigures : KorvoStore.progress
        opacity: 0
        visible: opacity > 0
        Accessible.ignored: overlayWarmUp.running
        transform: Translate { x: overlayWarmUp.running ? busy.width + 200 : 0 }
    }
    QtObject {
        id: warmUpFigures
        readonly property bool visible: true
        readonly property real fraction: 0.5
        readonly property string text: "1.0 GB of 2.0 GB, about 5 s left"
        readonly property bool cancellable: true
    }
    // The fade starts once the overlay's first frame is on screen: every step of a fade asks the
    // window's thread for a frame, and that thread would wait on the first one, which takes the
    // picture where the window had no rest to take it ahead.
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
        overlayWarmUp.cut()
        busyFade.stop()
        if (shown)
            overlayWarmUp.takePicture()
        busyFirstFrame.enabled = shown && busy.opacity === 0
        if (busyFirstFrame.enabled)
            busy.opacity = 0.02
        else
            busyFade.go(shown ? 1 : 0)
    }

    // The overlay's first appearance would take and blur the content and build its effects (a
    // software renderer builds the shaders for each kind of item the first time it draws it into
    // a picture) while the work has begun and the window waits on them. So whenever the window
    // has rested a moment after drawing something new, the overlay is drawn out of sight for two
    // frames, fading and with its bar, over a fresh picture of the content.
    QtObject {
        id: overlayWarmUp
        objectName: "overlayWarmUp"
        // Frames of the current warm-up left to draw, and warm-ups done so far.
        property int framesLeft: 0
        property int done: 0
        readonly property bool running: framesLeft > 0
        // The content has been drawn anew since its picture was taken.
        property bool contentChanged: true
        // The frame that hides the overlay again after a warm-up draws nothing new.
        property bool ignoreNextFrame: false
        function takePicture() {
            if (!contentChanged)
                return
            frozenContent.scheduleUpdate()
            contentChanged = false
        }
        function begin() {
            if (KorvoStore.isBusy || running || busy.visible)
                return
            takePicture()
            framesLeft = 2
            busy.opacity = 0.5
        }
        function cut() {
            if (!running)
                return
            framesLeft = 0
            busy.opacity = 0
        }
        function frameSwapped() {
            if (running) {
                if (--framesLeft > 0) {
                    busy.opacity = 1
                } else {
                    busy.opacity = 0
                    ignoreNextFrame = true
                    ++done
                }
            } else if (ignoreNextFrame) {
                ignoreNextFrame = false
            } else if (!KorvoStore.isBusy && !busy.visible) {
                contentChanged = true
                warmUpDelay.restart()
            }
        }
    }
    Timer {
        id: warmUpDelay
        interval: 400
        onTriggered: overlayWarmUp.begin()
    }
    Connections {
        target: root.Window.window
        enabled: !KorvoStore.isBusy   // a job's frames change nothing the warm-up looks at
        function onFrameSwapped() { overlayWarmUp.frameSwapped() }
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
