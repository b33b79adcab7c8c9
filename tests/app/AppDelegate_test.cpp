// The one main window: built once, shown again after closing, reported through the probe file.
#include "AppDelegate.h"
#include "SingleInstance.h"
#include "core/NativePath.h"
#include "support/StoreFixture.h"

#include <QDir>
#include <QFile>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/QQmlExtensionPlugin>

Q_IMPORT_QML_PLUGIN(KorvoPlugin)

TEST_F(StoreTest, MainWindowIsBuiltOnceAndComesBackAfterClosing)
{
    const QString probe = workPath("probe.txt");
    qputenv("KORVO_LAUNCH_PROBE_PATH", probe.toLocal8Bit());
    KorvoStore::setApplicationStore(&store());
    {
        AppDelegate delegate(&store());
        delegate.applicationWillFinishLaunching();
        delegate.applicationDidFinishLaunching();
        QQuickWindow* window = delegate.mainWindow();
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        QTRY_COMPARE(readFile(probe), QByteArray("visible\n"));

        // The root view's appearance ran the launch decision: empty keychain, local mode.
        QTRY_COMPARE(store().route(), KorvoStore::AppRoute::Main);
        EXPECT_EQ(store().accessMode(), KorvoStore::AppAccessMode::Local);

        delegate.showMainWindow();   // already visible: same window
        EXPECT_EQ(delegate.mainWindow(), window);

        window->close();
        EXPECT_FALSE(window->isVisible());
        QFile::remove(probe);
        delegate.showMainWindow();
        EXPECT_EQ(delegate.mainWindow(), window);
        EXPECT_TRUE(window->isVisible());
        QTRY_COMPARE(readFile(probe), QByteArray("visible\n"));

        // Settings: one window of its own, on the same store.
        delegate.showSettings();
        QQuickWindow* settings = delegate.settingsWindow();
        ASSERT_NE(settings, nullptr);
        EXPECT_TRUE(settings->isVisible());
        EXPECT_NE(settings->contentItem()->childItems().size(), 0);
        delegate.showSettings();
        EXPECT_EQ(delegate.settingsWindow(), settings);

        // A second showing does not run the launch decision again.
        store().leaveLocalMode();
        delegate.showMainWindow();
        QTest::qWait(50);
        EXPECT_EQ(store().route(), KorvoStore::AppRoute::Login);
    }
    KorvoStore::setApplicationStore(nullptr);
    qunsetenv("KORVO_LAUNCH_PROBE_PATH");
}

TEST_F(StoreTest, ASecondLaunchHandsItsFilesToTheFirst)
{
    KorvoStore::setApplicationStore(&store());
    AppDelegate delegate(&store());
    delegate.applicationDidFinishLaunching();
    QQuickWindow* window = delegate.mainWindow();
    ASSERT_NE(window, nullptr);
    QTRY_COMPARE(store().route(), KorvoStore::AppRoute::Main);

    const QString socket = workPath("korvo.socket");
    SingleInstance running(socket);
    EXPECT_FALSE(SingleInstance(socket).askRunningInstanceToReopen());   // nobody listens yet
    ASSERT_TRUE(running.listen([&delegate](const QStringList& files) { delegate.openFiles(files); }));

    // Protected files only: open mode; anything else: lock mode, folders marked. A name that is
    // not UTF-8 arrives with its bytes.
    const QString legacy = NativePath::fromNative(workPath("caf").toUtf8() + "\xe9.korvo");
    writeFile("a.korvolocal", "x");
    QDir().mkpath(workPath("folder"));
    const struct {
        QStringList sent;
        QStringList selected;
        KorvoStore::WorkMode mode;
    } cases[] = {
        {{workPath("a.korvolocal"), legacy}, {workPath("a.korvolocal"), legacy}, KorvoStore::WorkMode::Decrypt},
        {{workPath("a.korvolocal"), workPath("folder")}, {workPath("a.korvolocal"), workPath("folder/")},
         KorvoStore::WorkMode::Encrypt},
    };
    for (const auto& c : cases) {
        window->close();
        ASSERT_FALSE(window->isVisible());
        EXPECT_TRUE(SingleInstance(socket).askRunningInstanceToReopen(c.sent));
        QTRY_VERIFY(window->isVisible());
        QTRY_COMPARE(store().selectedURLs(), c.selected);
        EXPECT_EQ(store().mode(), c.mode);
        EXPECT_EQ(delegate.mainWindow(), window);
    }

    // An existing socket file, as a killed instance leaves behind, does not stop the next one.
    SingleInstance successor(socket);
    EXPECT_TRUE(successor.listen([](const QStringList&) {}));
    KorvoStore::setApplicationStore(nullptr);
}

// Linux: closing the main window quits when idle; while busy it asks first, and a no keeps it.
TEST_F(StoreTest, ClosingTheWindowQuitsWhenIdleAndAsksWhenBusy)
{
    int quits = 0;
    int asked = 0;
    std::vector<bool> answers;
    for (const bool busy : {false, true}) {
        if (busy)
            makeStore({{"KORVO_START_BUSY", "Locking file..."}});
        KorvoStore::setApplicationStore(&store());
        AppDelegate delegate(&store());
        delegate.setQuitOnClose(true);
        delegate.quitApplication = [&quits] { ++quits; };
        delegate.confirmQuit = [&] { return answers.at(asked++); };
        delegate.applicationDidFinishLaunching();
        QTRY_COMPARE(store().isBusy(), busy);
        if (busy) {
            answers = {false, true};
            delegate.mainWindow()->close();
            EXPECT_TRUE(delegate.mainWindow()->isVisible());
            EXPECT_EQ(quits, 1);
        }
        delegate.mainWindow()->close();
        EXPECT_EQ(quits, busy ? 2 : 1);
        EXPECT_EQ(asked, busy ? 2 : 0);
        KorvoStore::setApplicationStore(nullptr);
    }
}
