import QtQuick
import QtQuick.Controls.Basic
import Korvo

// Dims the whole window over its blurred content and shows the running operation's line in a
// centred card. While it has focus it swallows keys, so nothing underneath can be used. A file
// operation that runs for a while adds a bar with its figures and a Cancel button; Escape
// cancels as well.
FocusScope {
    id: root
    property string message
    // The content to blur underneath; it must cover the same area as the overlay. Nothing
    // underneath changes while the overlay is up, so the window hands it a picture of its content
    // taken once (a ShaderEffectSource), blurred and tinted once into one layer: a frame then costs
    // that layer and the card, which matters where a software renderer shares the processor
    // with the work.
    property Item backdrop
    // The store's OperationProgress (visible, fraction, text, cancellable, cancel()); may be null.
    property var progress: null
    readonly property bool showsProgress: progress !== null && progress.visible
    Accessible.role: Accessible.ProgressBar
    Accessible.name: message

    // The blur and its tints are worked out at half size and the picture drawn at twice that:
    // the blur's passes and the layer then cost a quarter of the pixels, and a 48-point blur
    // leaves nothing that a smooth scale-up could lose. The radius is the half-size equivalent
    // (the blur's levels are a fixed fraction of its size, so one level down).
    Item {
        width: Math.ceil(root.width / 2)
        height: Math.ceil(root.height / 2)
        scale: 2
        transformOrigin: Item.TopLeft
        layer.enabled: true
        layer.smooth: true
        BackdropBlur {
            anchors.fill: parent
            content: root.backdrop
            radius: 31.3
            visible: root.backdrop !== null
        }
        Rectangle { anchors.fill: parent; color: KorvoTheme.ultraThinMaterial }
        Rectangle { anchors.fill: parent; color: KorvoTheme.black(0.34) }
    }

    // Cancel comes up wherever the pointer rests, and the card grows under it as it does: the
    // button takes hover only once the card has settled, so coming up under a pointer that never
    // moved onto it starts no highlight (a fifth of a second of frames redrawn for nothing).
    property bool cancelHoverable: false
    onShowsProgressChanged: {
        cancelHoverable = false
        if (showsProgress)
            hoverDelay.restart()
    }
    Timer { id: hoverDelay; interval: 300; onTriggered: root.cancelHoverable = true }

    // While the work runs, presses and hovering stop here. Once it is done the overlay still fades
    // out for a moment, and a press then belongs to the window it uncovers.
    property bool holdsInput: true
    MouseArea { anchors.fill: parent; hoverEnabled: true; acceptedButtons: Qt.AllButtons; enabled: root.holdsInput }
    Keys.onPressed: (event) => {
        event.accepted = true
        if (event.key === Qt.Key_Escape && root.progress !== null && root.progress.cancellable)
            root.progress.cancel()
    }

    SoftShadow { target: card; shadowOpacity: 0.32; radiusPoints: 12; offsetY: 4 }
    Rectangle {
        id: card
        anchors.centerIn: parent
        width: column.implicitWidth + 52
        height: column.implicitHeight + 44
        radius: 14
        color: KorvoTheme.regularMaterial
        border.width: 1
        border.color: KorvoTheme.border

        Column {
            id: column
            anchors.centerIn: parent
            spacing: 12
            // The bar, once shown, says the work goes on: the window then redraws only when a
            // figure changes, a few times a second, instead of on every frame of a spinner.
            // It turns once the overlay has faded in: a turn asks the window's thread for a frame,
            // which would wait on the overlay's first, slow one.
            Spinner {
                anchors.horizontalCenter: parent.horizontalCenter
                diameter: 28
                visible: !root.showsProgress
                running: visible && root.opacity === 1
            }
            KorvoText {
                objectName: "busyMessage"
                anchors.horizontalCenter: parent.horizontalCenter
                text: root.message
                size: 13
                weight: Font.DemiBold
                color: KorvoTheme.textPrimary
            }
            Column {
                objectName: "busyProgress"
                anchors.horizontalCenter: parent.horizontalCenter
                visible: root.showsProgress
                spacing: 10
                Rectangle {
                    objectName: "busyProgressBar"
                    visible: root.showsProgress && root.progress.text !== ""
                    width: 300
                    height: 6
                    radius: 3
                    color: KorvoTheme.white(0.1)
                    Accessible.role: Accessible.ProgressBar
                    Accessible.name: root.showsProgress ? root.progress.text : ""
                    Rectangle {
                        width: parent.width * (root.showsProgress ? root.progress.fraction : 0)
                        height: parent.height
                        radius: parent.radius
                        color: KorvoTheme.accent
                    }
                }
                KorvoText {
                    objectName: "busyProgressText"
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: root.showsProgress ? root.progress.text : ""
                    size: 12
                    color: KorvoTheme.textMuted
                }
                SecondaryButton {
                    objectName: "busyCancel"
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Cancel"
                    enabled: root.progress !== null && root.progress.cancellable
                    focusPolicy: Qt.NoFocus
                    hoverEnabled: root.cancelHoverable
                    onClicked: root.progress.cancel()
                }
            }
        }
    }
}
