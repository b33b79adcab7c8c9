// A window that nothing asks to change draws no frame: after launch in each start state, with the
// error alert up, and after a job has come and gone (on the local screen the launch decision also
// ends on). Runs on the X server (the window's real renderer), not offscreen.
#include "AppDelegate.h"
#include "support/StoreFixture.h"

#include <QElapsedTimer>
#include <QQuickWindow>
#include <QTest>
#include <QtQml/QQmlExtensionPlugin>

#include <atomic>

Q_IMPORT_QML_PLUGIN(KorvoPlugin)

namespace {
// Frames the window draws over `milliseconds`.
int framesOver(QQuickWindow* window, int milliseconds)
{
    std::atomic<int> frames{0};
    const auto counting = QObject::connect(window, &QQuickWindow::frameSwapped, window, [&frames] { ++frames; },
                                           Qt::DirectConnection);
    QTest::qWait(milliseconds);
    QObject::disconnect(counting);
    return frames;
}

// Waits until the window has drawn nothing for a second (its transitions and the launch's
// checks over), or ten seconds pass.
void settle(QQuickWindow* window)
{
    QElapsedTimer waited;
    waited.start();
    while (framesOver(window, 1000) > 0 && waited.elapsed() < 10000) {
    }
}
} // namespace

TEST_F(StoreTest, AnIdleWindowDrawsNoFrames)
{
    const struct {
        const char* name;
        QHash<QString, QString> environment;
        bool lockFirst;
    } cases[] = {
        {"signed in", {{"KORVO_START_ROUTE", "main"}}, false},
        {"sign-in screen", {{"KORVO_START_ROUTE", "login"}}, false},
        {"error alert up", {{"KORVO_START_ROUTE", "local"}, {"KORVO_START_ERROR", "The selected file could not be read."}}, false},
        {"after a lock", {{"KORVO_START_ROUTE", "local"}}, true},
    };
    for (const auto& c : cases) {
        makeStore(c.environment);
        KorvoStore::setApplicationStore(&store());
        {
            AppDelegate delegate(&store());
            delegate.applicationDidFinishLaunching();
            QQuickWindow* window = delegate.mainWindow();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(window)) << c.name;
            if (c.lockFirst) {
                settle(window);
                EXPECT_TRUE(runJob({writeFile("notes.txt", QByteArray("meeting notes\n").repeated(5000))},
                                   workPath("notes.txt.korvolocal"))) << store().errorMessage().toStdString();
            }
            settle(window);
            EXPECT_EQ(framesOver(window, 3000), 0) << c.name;
        }
        KorvoStore::setApplicationStore(nullptr);
    }
}
