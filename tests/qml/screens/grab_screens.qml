import QtQuick
import QtTest
import Korvo

// Not a test: draws the views in states the application cannot be launched into and saves
// each as a PNG (scripts/screenshots.sh runs it with KORVO_SHOTS_DIR set).
TestCase {
    id: stage
    name: "Screens"
    when: windowShown
    visible: true
    width: 1240
    height: 760

    Component { id: rootView; RootView {} }
    Component { id: busy; BusyOverlay { anchors.fill: parent } }
    Component { id: settings; KorvoSettingsView { width: 520; height: 460 } }

    property string outDir: ""

    function initTestCase() {
        outDir = "shots"
    }

    function save(item, name) {
        waitForRendering(item)
        wait(400)
        var image = grabImage(item)
        image.save(outDir + "/" + name + ".png")
    }

    function samplePaths() {
        return ["/home/alex/Pictures/beach.jpg", "/home/alex/Documents/tax return 2024.pdf",
                "/home/alex/Pictures/Holiday photos/", "/home/alex/notes.txt", "/home/alex/contract.docx"]
    }

    function test_screens() {
        KorvoStore.enterLocalMode()
        KorvoStore.selectedURLs = samplePaths()
        var view = createTemporaryObject(rootView, stage, { width: 1240, height: 760 })
        save(stage, "grab-local-selection-regular")
        view.width = 1100
        save(stage, "grab-local-selection-compact")
        view.width = 1240

        var overlay = createTemporaryObject(busy, view, { message: "Locking file..." })
        save(stage, "grab-busy")
        overlay.destroy()

        KorvoStore.errorMessage = "The selected file could not be read."
        save(stage.Window.contentItem, "grab-error")
        KorvoStore.errorMessage = ""

        KorvoStore.mode = KorvoStore.Decrypt
        save(stage, "grab-local-decrypt")
        KorvoStore.mode = KorvoStore.Encrypt
        view.destroy()

        var s = createTemporaryObject(settings, stage)
        save(s, "grab-settings-local")
        KorvoStore.leaveLocalMode()
        KorvoStore.route = KorvoStore.Main
        save(s, "grab-settings-account-without-identity")
    }
}
