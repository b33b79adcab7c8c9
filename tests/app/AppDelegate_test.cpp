// The one main window: built once, shown again after closing, reported through the probe file.
#include "AppDelegate.h"
#include "SingleInstance.h"
#include "core/NativePath.h"
#include "support/StoreFixture.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/QQmlExtensionPlugin>

Q_IMPORT_QML_PLUGIN(KorvoPlugin)

// The views find the store as the application's while a test runs.
class WindowTest : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        KorvoStore::setApplicationStore(&store());
    }
    void TearDown() override { KorvoStore::setApplicationStore(nullptr); }

    // The window launched into local mode (empty keychain) and shown.
    QQuickWindow* launch(AppDelegate& delegate)
    {
        delegate.applicationDidFinishLaunching();
        EXPECT_TRUE(spinUntil([this] { return store().route() == KorvoStore::AppRoute::Main; }));
        return delegate.mainWindow();
    }
    static bool activate(QWindow* w) { w->show(); w->requestActivate(); return QTest::qWaitForWindowActive(w); }
};

TEST_F(WindowTest, MainWindowIsBuiltOnceAndComesBackAfterClosing)
{
    const QString probe = workPath("probe.txt");
    qputenv("KORVO_LAUNCH_PROBE_PATH", probe.toLocal8Bit());
    AppDelegate delegate(&store());
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    QQuickWindow* window = delegate.mainWindow();
    ASSERT_TRUE(window && window->isVisible());
    EXPECT_TRUE(spinUntil([&] { return readFile(probe) == QByteArray("visible\n"); }));
    delegate.showMainWindow();   // already visible: same window
    EXPECT_EQ(delegate.mainWindow(), window);

    window->close();
    EXPECT_FALSE(window->isVisible());
    QFile::remove(probe);
    delegate.showMainWindow();
    EXPECT_EQ(delegate.mainWindow(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(spinUntil([&] { return readFile(probe) == QByteArray("visible\n"); }));

    // Settings: one window of its own, on the same store, also opened with Ctrl+,.
    QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
    QQuickWindow* settings = delegate.settingsWindow();
    ASSERT_TRUE(settings && settings->isVisible());
    EXPECT_NE(settings->contentItem()->childItems().size(), 0);
    delegate.showSettings();
    EXPECT_EQ(delegate.settingsWindow(), settings);

    // A second showing does not run the launch decision again.
    store().leaveLocalMode();
    delegate.showMainWindow();
    QTest::qWait(50);
    EXPECT_EQ(store().route(), KorvoStore::AppRoute::Login);
    qunsetenv("KORVO_LAUNCH_PROBE_PATH");
}

TEST_F(WindowTest, ASecondLaunchHandsItsFilesToTheFirst)
{
    AppDelegate delegate(&store());
    QQuickWindow* window = launch(delegate);
    ASSERT_NE(window, nullptr);
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
        EXPECT_TRUE(spinUntil([&] { return window->isVisible() && store().selectedURLs() == c.selected; }));
        EXPECT_EQ(store().mode(), c.mode);
        EXPECT_EQ(delegate.mainWindow(), window);
    }

    // An existing socket file, as a killed instance leaves behind, does not stop the next one.
    SingleInstance successor(socket);
    EXPECT_TRUE(successor.listen([](const QStringList&) {}));
}

// Linux: closing the main window quits when idle. While a job runs the window asks first, and
// the job's save panel waits for the answer: "Cancel" lets the job go on; "Quit" cancels it and
// quits once it has wound down, its job folder gone; a job that ends under the question
// withdraws it and the close goes ahead.
TEST_F(WindowTest, ClosingTheWindowQuitsWhenIdleAndAsksWhileAJobRuns)
{
    // A folder: its bundling keeps the job busy past the close.
    writeFile("Docs/report.pdf", QByteArray(16 << 20, 'r'));
    const QString input = workPath("Docs/");
    enum Answer { Idle, KeepRunning, Quit, EndsUnderTheQuestion };
    for (const Answer answer : {Idle, KeepRunning, Quit, EndsUnderTheQuestion}) {
        SCOPED_TRACE(int(answer));
        int quits = 0;
        AppDelegate delegate(&store());
        delegate.setQuitOnClose(true);
        delegate.quitApplication = [&quits] { ++quits; };
        QQuickWindow* window = launch(delegate);
        if (answer == Idle) {
            window->close();
            EXPECT_EQ(quits, 1);
            continue;
        }
        const QString output = workPath(QStringLiteral("docs-%1.zip.korvolocal").arg(int(answer)));
        m_dialogs->saveTitles.clear();
        m_dialogs->saveAnswers = {output};
        m_dialogs->onSave = answer != EndsUnderTheQuestion ? std::function<void()>() : [&] {
            window->close();
            EXPECT_TRUE(delegate.quitQuestionShown());
        };
        store().setSelectedURLs({input});
        QCoro::Task<bool> job = store().runFileOperationTask();
        if (answer != EndsUnderTheQuestion) {
            // Delivered at once, while the folder is still being bundled (close() would first
            // run the job's queued steps).
            ASSERT_TRUE(store().isBusy());
            QCloseEvent close;
            QCoreApplication::sendEvent(window, &close);
            EXPECT_TRUE(delegate.quitQuestionShown());
            EXPECT_TRUE(window->isVisible());
            spin(300);
            EXPECT_TRUE(m_dialogs->saveTitles.isEmpty()) << "the save panel came up under the question";
            delegate.answerQuitQuestion(answer == Quit);
            EXPECT_FALSE(delegate.quitQuestionShown());
        }
        EXPECT_TRUE(spinUntil([&] { return !store().isBusy(); }));
        EXPECT_EQ(quits, answer == KeepRunning ? 0 : 1);
        EXPECT_EQ(QFile::exists(output), answer != Quit);
        EXPECT_EQ(m_dialogs->saveTitles.size(), answer == Quit ? 0 : 1);
        EXPECT_EQ(temporaryFiles(), QStringList());
        EXPECT_EQ(store().statusMessage() == "Cancelled.", answer == Quit);
    }
}

// Keyboard only: a lock started with Space on "Lock & Save", its save panel a window of its own.
// Afterwards the keyboard is on the control before "Lock & Save" (which turned off with nothing
// selected), not on the hidden overlay, and Tab moves on from there.
TEST_F(WindowTest, TheKeyboardComesBackAfterAJob)
{
    AppDelegate delegate(&store());
    QQuickWindow* window = launch(delegate);
    store().setSelectedURLs({writeFile("report.pdf", QByteArray(700 * 1024, 'r'))});
    m_dialogs->saveAnswers = {workPath("report.pdf.korvolocal")};
    QWindow panel;
    // The panel keeps the keyboard until after the job has ended (no window manager hands it
    // back at once).
    m_dialogs->onSave = [&panel] {
        EXPECT_TRUE(activate(&panel));
    };
    ASSERT_TRUE(activate(window));
    auto* run = window->contentItem()->findChild<QQuickItem*>("runButton");
    for (int i = 0; i < 30 && window->activeFocusItem() != run; ++i)
        QTest::keyClick(window, Qt::Key_Tab);
    ASSERT_EQ(window->activeFocusItem(), run);
    QTest::keyClick(window, Qt::Key_Space);
    EXPECT_TRUE(spinUntil([&] { return !m_dialogs->saveTitles.isEmpty(); }));
    EXPECT_TRUE(spinUntil([&] { return !store().isBusy(); }));
    EXPECT_TRUE(store().statusMessage().startsWith("Saved to ")) << store().statusMessage().toStdString();
    EXPECT_FALSE(window->isActive());
    panel.hide();
    ASSERT_TRUE(activate(window));
    auto* choose = window->contentItem()->findChild<QQuickItem*>("chooseButton");
    EXPECT_TRUE(spinUntil([&] { return window->activeFocusItem() == choose; })) << window->activeFocusItem();
    QTest::keyClick(window, Qt::Key_Tab);
    EXPECT_NE(window->activeFocusItem(), choose);
}

// A keyring that did not answer at launch is asked again when the window is activated; once it
// answers, the summary and the status line say so without a relaunch.
TEST_F(WindowTest, AKeyringThatComesBackIsNoticedWhenTheWindowIsActivated)
{
    m_keychain->failReads = -25291;
    AppDelegate delegate(&store());
    QQuickWindow* window = launch(delegate);
    EXPECT_TRUE(spinUntil([&] { return !store().keyringProblem().isEmpty(); }));
    EXPECT_EQ(store().statusMessage(), store().keyringProblem());
    EXPECT_FALSE(store().statusIsResult());
    m_keychain->failReads = 0;
    QWindow other;
    ASSERT_TRUE(activate(&other));
    window->requestActivate();
    EXPECT_TRUE(spinUntil([&] { return store().keyringProblem().isEmpty(); }));
    EXPECT_TRUE(store().statusMessage().startsWith("Offline protection is ready.")) << store().statusMessage().toStdString();
}
