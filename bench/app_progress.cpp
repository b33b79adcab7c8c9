// The main window while a large file is locked: the progress overlay half way (a screenshot), the
// GUI heartbeat's largest gap over a whole lock, and how long Escape takes to stop a lock (median
// of 10), with the folder listed after each stop.
//   bench_app_progress [SIZE_MIB] [SHOT_FOLDER]   (default 2048 and /tmp/korvo-shots; run inside
//                                                  scripts/headless-session.sh for a real window)
#include "AppDelegate.h"
#include "AppBench.h"
#include "KorvoStore.h"
#include "WidgetFileDialogs.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtQml/QQmlExtensionPlugin>

#include <algorithm>
#include <cstdio>

Q_IMPORT_QML_PLUGIN(KorvoPlugin)

namespace {
void settle(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}
} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const qint64 mebibytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 2048;
    const QString shots = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("/tmp/korvo-shots");
    QDir().mkpath(shots);

    QTemporaryDir work;
    const QString input = work.filePath(QStringLiteral("input.bin"));
    if (!writeInput(input, mebibytes)) {
        std::fprintf(stderr, "could not write the input file\n");
        return 1;
    }
    auto dialogs = std::make_shared<FixedDialogs>();
    dialogs->output = work.filePath(QStringLiteral("input.bin.korvolocal"));
    QFile earlier(dialogs->output);
    earlier.open(QIODevice::WriteOnly);
    earlier.write("an earlier file at the output path\n");
    earlier.close();

    KorvoStore store(StoreDependencies{AppPaths(work.filePath(QStringLiteral("data"))), makeInMemoryKeychainBackend(),
                                       dialogs, {{QStringLiteral("KORVO_START_ROUTE"), QStringLiteral("local")}},
                                       work.path(), std::make_shared<BridgeRunner>()});
    KorvoStore::setApplicationStore(&store);
    AppDelegate delegate(&store);
    delegate.applicationDidFinishLaunching();
    QQuickWindow* window = delegate.mainWindow();
    settle(1500);

    // One whole lock: heartbeat, and the window at half way.
    qint64 largestGapNs = 0;
    QElapsedTimer sinceTick;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(5);
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.nsecsElapsed();
        largestGapNs = std::max(largestGapNs, gap);
        if (gap > 50'000'000)
            std::fprintf(stderr, "gap %.1f ms ending at %.3f s\n", gap / 1e6, clock.nsecsElapsed() / 1e9);
        sinceTick.restart();
    });
    // The first lock of a run also pays for building the overlay's effects; time it apart.
    for (const bool first : {true, false}) {
    largestGapNs = 0;
    store.setSelectedURLs({input});
    QElapsedTimer whole;
    whole.start();
    sinceTick.start();
    heartbeat.start();
    const bool locked = QCoro::waitFor(store.runFileOperationTask());
    heartbeat.stop();
    std::printf("whole lock of %lld MiB          %.2f s (%s)\n", static_cast<long long>(mebibytes),
                whole.nsecsElapsed() / 1e9, locked ? "saved" : qPrintable(store.errorMessage()));
    std::printf("largest heartbeat gap          %.1f ms (timer every 5 ms, %s lock of the run)\n", largestGapNs / 1e6,
                first ? "first" : "second");
    QFile::remove(dialogs->output);
    }

    // A second lock for the picture half way (grabbing the window holds the GUI thread).
    bool halfShot = false;
    const auto shotConnection = QObject::connect(store.progress(), &OperationProgress::changed, [&] {
        if (halfShot || !store.progress()->visible() || store.progress()->fraction() < 0.45)
            return;
        halfShot = true;
        QTimer::singleShot(100, [&] { window->grabWindow().save(shots + QStringLiteral("/progress-half.png")); });
    });
    store.setSelectedURLs({input});
    QCoro::waitFor(store.runFileOperationTask());
    QObject::disconnect(shotConnection);
    QFile::remove(dialogs->output);
    earlier.open(QIODevice::WriteOnly);
    earlier.write("an earlier file at the output path\n");
    earlier.close();

    // Ten stops by Escape at about a fifth of the way: time from the key to the end of the run.
    std::vector<double> latencies;
    for (int round = 0; round < 10; ++round) {
        QElapsedTimer sinceEscape;
        const auto connection = QObject::connect(store.progress(), &OperationProgress::changed, [&] {
            if (sinceEscape.isValid() || !store.progress()->visible() || store.progress()->fraction() < 0.2)
                return;
            sinceEscape.start();
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(window, &press);
        });
        store.setSelectedURLs({input});
        sinceTick.start();
        heartbeat.start();
        const bool finished = QCoro::waitFor(store.runFileOperationTask());
        heartbeat.stop();
        const double latency = sinceEscape.isValid() ? sinceEscape.nsecsElapsed() / 1e6 : -1;
        QObject::disconnect(connection);
        latencies.push_back(latency);
        std::printf("round %d: %s after %.1f ms, status \"%s\"\n", round + 1, finished ? "finished" : "stopped",
                    latency, qPrintable(store.statusMessage()));
        if (round == 0) {
            settle(400);
            window->grabWindow().save(shots + QStringLiteral("/after-cancel.png"));
            std::printf("folder after the stop:\n");
            for (const QFileInfo& entry : QDir(work.path()).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
                std::printf("  %-28s %lld bytes\n", qPrintable(entry.fileName()), static_cast<long long>(entry.size()));
            QFile kept(dialogs->output);
            kept.open(QIODevice::ReadOnly);
            std::printf("output path holds: %s", kept.readAll().constData());
        }
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("cancel latency median of 10    %.1f ms (min %.1f, max %.1f)\n",
                (latencies[4] + latencies[5]) / 2, latencies.front(), latencies.back());

    // The save panel as Qt draws it where no desktop portal answers, in the window's colours.
    QTimer::singleShot(1200, [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            dialog->grab().save(shots + QStringLiteral("/save-dialog.png"));
            dialog->close();
        }
    });
    makeWidgetFileDialogs()->chooseSaveLocation(QStringLiteral("Save locked file"), QStringLiteral("input.bin.korvolocal"),
                                                work.path());
    KorvoStore::setApplicationStore(nullptr);
    return 0;
}
