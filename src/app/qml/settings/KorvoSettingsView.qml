import QtQuick
import QtQuick.Controls.Basic
import Korvo

// The settings window: how files are protected, the access mode, and the version.
Item {
    id: root
    implicitWidth: 520
    implicitHeight: 460
    // Presents the account-deletion sheet while true.
    property bool isShowingAccountDeletion: false
    readonly property bool local: KorvoStore.accessMode === KorvoStore.Local
    readonly property bool signedIn: KorvoStore.accessMode === KorvoStore.Account && KorvoStore.hasIdentity

    // Brings the main window to the front; the host may replace it.
    property var openMainWindow: function () { AppDelegate.showMainWindow() }

    BackgroundGradient { anchors.fill: parent }
    MacVisualEffectView { anchors.fill: parent; material: "window"; opacity: 0.58 }

    // Closes the settings window; the host may replace it.
    property var closeWindow: function () { if (root.Window.window) root.Window.window.close() }

    Keys.onReturnPressed: root.openMainWindow()
    Keys.onEnterPressed: root.openMainWindow()
    // Escape and Ctrl+W close the window as they close any settings window (the deletion sheet,
    // while up, takes Escape itself; while one of its steps runs, Ctrl+W waits too).
    Keys.onEscapePressed: root.closeWindow()
    Shortcut {
        sequences: [StandardKey.Close]
        enabled: !(root.isShowingAccountDeletion && KorvoStore.isBusy)
        onActivated: {
            root.isShowingAccountDeletion = false
            root.closeWindow()
        }
    }
    focus: true

    Flickable {
        anchors.fill: parent
        anchors.margins: 12
        contentHeight: form.implicitHeight
        boundsBehavior: Flickable.StopAtBounds
        clip: true

        Column {
            id: form
            width: parent.width
            spacing: 14

            SettingsSection {
                width: parent.width
                Row {
                    spacing: 14
                    topPadding: 4
                    bottomPadding: 4
                    BrandMarkImage { size: 52 }
                    Column {
                        anchors.verticalCenter: parent.verticalCenter
                        spacing: 3
                        KorvoText { text: "Korvo"; size: KorvoTheme.title2Size; weight: Font.DemiBold }
                        KorvoText { text: KorvoStore.platformText("Private file protection for your Mac"); color: KorvoTheme.secondaryText }
                    }
                }
            }

            SettingsSection {
                width: parent.width
                title: "Privacy"
                SymbolLabel { text: KorvoStore.platformText("Your private access is stored securely on this Mac."); icon: "key.fill"; weight: Font.Normal; iconColor: KorvoTheme.accent }
                SettingsDivider {}
                SymbolLabel { text: "You choose where protected files are saved."; icon: "folder.fill"; weight: Font.Normal; iconColor: KorvoTheme.accent }
            }

            SettingsSection {
                objectName: "accessSection"
                visible: root.local
                width: parent.width
                title: "Access"
                SymbolLabel { text: KorvoStore.platformText("Offline protection is active on this Mac"); icon: "desktopcomputer"; weight: Font.Normal; iconColor: KorvoTheme.accent }
                SettingsDivider {}
                SettingsButton {
                    objectName: "connectToHalvane"
                    text: "Connect to Halvane"
                    onClicked: {
                        KorvoStore.leaveLocalMode()
                        root.openMainWindow()
                    }
                }
            }

            SettingsSection {
                objectName: "accountSection"
                visible: root.signedIn
                width: parent.width
                title: "Account"
                SettingsValueRow {
                    label: "Signed in as"
                    value: root.signedIn ? KorvoStore.identity.email : ""
                }
                SettingsDivider {}
                SettingsButton {
                    objectName: "deleteAccount"
                    text: "Delete Account..."
                    destructive: true
                    onClicked: root.isShowingAccountDeletion = true
                }
            }

            SettingsSection {
                width: parent.width
                title: "About"
                SettingsValueRow {
                    objectName: "versionRow"
                    label: "Version"
                    value: KorvoStore.version + " (" + KorvoStore.build + ")"
                }
                SettingsDivider {}
                SettingsButton {
                    objectName: "openKorvo"
                    text: "Open Korvo"
                    isDefault: true
                    onClicked: root.openMainWindow()
                }
            }
        }
    }

    AccountDeletionSheet {
        isPresented: root.isShowingAccountDeletion
        onDismissed: root.isShowingAccountDeletion = false
    }
}
