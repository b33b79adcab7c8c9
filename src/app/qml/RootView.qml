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
    // while it is still being built, and must not stack a second screen) and the launch decision
    // has set the route.
    property bool complete: false
    readonly property bool decidingLaunch: KorvoStore.isDecidingLaunch
    onDecidingLaunchChanged: showRoute()
    function showRoute() {
        if (!complete || decidingLaunch)
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

    // The busy overlay exists only while a job runs and while it fades out: nothing of it is
    // built, drawn or held in memory before the first job or after a job's end. A job's first
    // frame builds it and takes the picture of the content it blurs.
    Loader {
        id: overlay
        anchors.fill: parent
        active: false
        sourceComponent: overlayComponent
    }
    readonly property Item busy: overlay.item ? overlay.item.card : null
    Component {
        id: overlayComponent
        Item {
            id: layer
            readonly property alias card: busy
            // Nothing underneath changes while the overlay is up, so the content is taken once as
            // one picture: it stands in for all the content's items while the overlay fades in and
            // is what the overlay blurs, and the content is left out of the window's frames until
            // the overlay starts to leave.
            ShaderEffectSource {
                id: frozenContent
                anchors.fill: parent
                sourceItem: contentLayer
                live: false
                hideSource: KorvoStore.isBusy
                visible: hideSource && busy.opacity < 1
            }
            BusyOverlay {
                id: busy
                objectName: "busyOverlay"
                anchors.fill: parent
                backdrop: frozenContent
                message: KorvoStore.statusMessage
                holdsInput: KorvoStore.isBusy
                // Under the quit question its Cancel goes: the question has its own.
                progress: quitQuestion.opened ? null : KorvoStore.progress
                opacity: 0
                visible: opacity > 0
            }
            // The fade starts once the overlay's first frame is on screen: every step of a fade
            // asks the window's thread for a frame, and that thread would wait on the first one,
            // which takes and blurs the picture.
            NumberAnimation {
                id: fade
                target: busy
                property: "opacity"
                easing.type: Easing.InOutQuad
                function go(value) {
                    stop()
                    to = value
                    duration = Math.round(160 * Math.abs(value - busy.opacity))
                    start()
                }
                onFinished: if (busy.opacity === 0 && !KorvoStore.isBusy) overlay.active = false
            }
            Connections {
                id: firstFrame
                target: root.Window.window
                enabled: false
                function onFrameSwapped() {
                    firstFrame.enabled = false
                    fade.go(1)
                }
            }
            function show(shown) {
                fade.stop()
                if (shown)
                    frozenContent.scheduleUpdate()
                firstFrame.enabled = shown && busy.opacity === 0
                if (firstFrame.enabled)
                    busy.opacity = 0.02
                else
                    fade.go(shown ? 1 : 0)
            }
        }
    }
    function showBusy(shown) {
        if (shown)
            overlay.active = true
        if (overlay.item)
            overlay.item.show(shown)
    }

    // While busy the overlay holds the keyboard (Return cannot start the action twice). When the
    // job ends, or once its error alert is dismissed, the keyboard goes back to the control that
    // started it; when that control can no longer take it ("Lock & Save" turns off once its files
    // are saved), to the one before it in the Tab order. This holds when the window was not
    // active at the end (a save panel had the keyboard): it gets the focus back when activated.
    property Item focusBeforeBusy: null
    property bool focusBeforeBusyShown: false
    function restoreFocus() {
        var target = focusBeforeBusy
        focusBeforeBusy = null
        if (target && !(target.visible && target.enabled))
            target = target.nextItemInFocusChain(false)
        if (target && target !== busy && target.visible && target.enabled)
            target.forceActiveFocus(focusBeforeBusyShown ? Qt.TabFocusReason : Qt.OtherFocusReason)
        else
            forceActiveFocus()
    }
    Connections {
        target: KorvoStore
        Component.onCompleted: if (KorvoStore.isBusy) root.showBusy(true)
        function onIsBusyChanged() {
            root.showBusy(KorvoStore.isBusy)
            if (KorvoStore.isBusy) {
                var item = root.Window.activeFocusItem
                root.focusBeforeBusy = item
                root.focusBeforeBusyShown = item !== null && item.visualFocus === true
                busy.forceActiveFocus()
            } else if (!alert.opened && !quitQuestion.opened && busy && busy.focus) {
                root.restoreFocus()
            }
        }
    }

    // Closing the window while a job runs asks first (AppDelegate.quitQuestionShown). The
    // question stands in for the overlay's card, so one "Cancel" is on screen at a time.
    QuitQuestion {
        id: quitQuestion
        objectName: "quitQuestion"
        shown: AppDelegate.quitQuestionShown
        onAnswered: (quit) => AppDelegate.answerQuitQuestion(quit)
        // Kept running: the overlay holds the keyboard again; ended meanwhile: as after a job.
        onClosed: if (KorvoStore.isBusy) busy.forceActiveFocus(); else if (!alert.opened) root.restoreFocus()
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
