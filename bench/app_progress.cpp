// The main window while large files are locked, opened and cancelled:
//  - the GUI heartbeat's largest gap over a whole lock, the first of the run and a later one,
//    with the processor time each kind of thread took meanwhile (the X server's included);
//  - the overlay half way (a screenshot) and the window after a stop;
//  - a 1 GiB lock through the window against korvo-cli on the same file, taking turns;
//  - Escape at a random point of each stage (bundling, locking, opening; local mode, and account
//    mode against the real bridge and reference service): time from the key to the end of the
//    run, and whether the folder and the file at the output path are as before.
//   bench_app_progress [SIZE_MIB] [SHOT_FOLDER] [TRIALS] [RATIO_ROUNDS]
//   (defaults 2048, /tmp/korvo-shots, 20, 5; TRIALS 0 skips the stops, RATIO_ROUNDS 0 the
//   comparison; run inside scripts/headless-session.sh for a real window and keyring)
#include "AppDelegate.h"
#include "AppBench.h"
#include "KorvoStore.h"
#include "WidgetFileDialogs.h"
#include "ReferenceService.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtQml/QQmlExtensionPlugin>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <unistd.h>

Q_IMPORT_QML_PLUGIN(KorvoPlugin)

namespace {
// Lets the window run for a while without the work of a busy loop.
void settle(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

QString loadText()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

void writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text);
}

QByteArray readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// Every name under `folder`, hidden ones included, with the sizes of the files.
QStringList listing(const QString& folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        names.append(QDir(folder).relativeFilePath(it.filePath()));
    }
    names.sort();
    return names;
}

// Processor time (ms) by thread name: this process's threads, and the X server of this display.
std::map<QString, double> processorTime()
{
    std::map<QString, double> times;
    const double tick = 1000.0 / double(::sysconf(_SC_CLK_TCK));
    auto add = [&](const QString& statPath, const QString& name) {
        QFile stat(statPath);
        if (!stat.open(QIODevice::ReadOnly))
            return;
        const QByteArray line = stat.readAll();
        const QByteArray afterName = line.mid(line.lastIndexOf(')') + 2);
        const QList<QByteArray> fields = afterName.split(' ');
        if (fields.size() > 12)
            times[name.isEmpty() ? QString::fromLatin1(line.mid(line.indexOf('(') + 1, line.lastIndexOf(')') - line.indexOf('(') - 1)) : name]
                += (fields[11].toDouble() + fields[12].toDouble()) * tick;
    };
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        add(QStringLiteral("/proc/self/task/%1/stat").arg(task), {});
    const QByteArray display = qgetenv("DISPLAY");
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QList<QByteArray> argv = readText(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0');
        if (argv.size() > 1 && argv[0].endsWith("Xvfb") && argv[1] == display)
            add(QStringLiteral("/proc/%1/stat").arg(pid), QStringLiteral("Xvfb (X server)"));
    }
    return times;
}

void printProcessorTime(const std::map<QString, double>& before, const std::map<QString, double>& after)
{
    std::printf("  processor time by thread:");
    for (const auto& [name, ms] : after) {
        const double spent = ms - (before.count(name) ? before.at(name) : 0.0);
        if (spent >= 20)
            std::printf(" %s %.0f ms;", qPrintable(name), spent);
    }
    std::printf("\n");
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? -1 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The GUI thread's heartbeat: a 5 ms timer and the largest gap between its ticks.
struct Heartbeat {
    QTimer timer;
    QElapsedTimer sinceTick;
    QElapsedTimer clock;
    qint64 largestNs = 0;
    Heartbeat()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(5);
        clock.start();
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 gap = sinceTick.nsecsElapsed();
            largestNs = std::max(largestNs, gap);
            if (gap > 50'000'000)
                std::fprintf(stderr, "gap %.1f ms ending %.3f s into the run (monotonic clock %.6f s)\n", gap / 1e6,
                             clock.nsecsElapsed() / 1e9, double(sinceTick.msecsSinceReference()) / 1e3);
            sinceTick.restart();
        });
    }
    void start()
    {
        largestNs = 0;
        clock.start();
        sinceTick.start();
        timer.start();
    }
    double stop()
    {
        timer.stop();
        largestNs = std::max(largestNs, sinceTick.nsecsElapsed());
        return largestNs / 1e6;
    }
};

struct Bench {
    KorvoStore& store;
    QQuickWindow* window;
    FixedDialogs& dialogs;
    QString folder;
    Heartbeat heartbeat;

    bool run(const QStringList& selection, KorvoStore::WorkMode mode, const QString& output)
    {
        store.setMode(mode);
        store.setSelectedURLs(selection);
        dialogs.output = output;
        return QCoro::waitFor(store.runFileOperationTask());
    }

    // Stops one run by Escape once `due` says so (called at every change of the figures and every
    // 10 ms while the run can be stopped, with the bar's fraction, or -1 while no bar shows, and
    // the time since the run began); returns the milliseconds from the key to the end of the run,
    // or -1 when it finished first.
    double stopOnce(const QStringList& selection, KorvoStore::WorkMode mode, const QString& output,
                    const std::function<bool(double fraction, qint64 sinceStart)>& due, QString& fault)
    {
        const QByteArray earlier = "an earlier file at the output path " + QByteArray::number(QRandomGenerator::global()->generate()) + '\n';
        writeText(output, earlier);
        const QStringList before = listing(folder);
        QElapsedTimer sinceEscape;
        QElapsedTimer sinceStart;
        sinceStart.start();
        auto check = [&] {
            OperationProgress* progress = store.progress();
            if (sinceEscape.isValid() || !progress->cancellable())
                return;
            if (!due(progress->visible() ? progress->fraction() : -1.0, sinceStart.elapsed()))
                return;
            sinceEscape.start();
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(window, &press);
        };
        const auto connection = QObject::connect(store.progress(), &OperationProgress::changed, check);
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, check);
        poll.start();
        const bool finished = run(selection, mode, output);
        const double latency = sinceEscape.nsecsElapsed() / 1e6;
        poll.stop();
        QObject::disconnect(connection);
        if (finished || !sinceEscape.isValid()) {   // done (or failed) before the stop came
            if (!finished)
                fault = QStringLiteral("failed before the stop: %1").arg(store.errorMessage());
            QFile::remove(output);
            return -1;
        }
        if (store.statusMessage() != QLatin1String("Cancelled.") || !store.errorMessage().isEmpty())
            fault = QStringLiteral("status \"%1\", error \"%2\"").arg(store.statusMessage(), store.errorMessage());
        else if (readText(output) != earlier)
            fault = QStringLiteral("the earlier file at the output path changed");
        else if (const QStringList after = listing(folder); after != before)
            fault = QStringLiteral("the folder changed: %1").arg(after.join(QLatin1String(", ")));
        return latency;
    }

    // `trials` stops of one stage, each at a random point; prints the figures.
    void stopStage(const char* name, int trials, const QStringList& selection, KorvoStore::WorkMode mode,
                   const QString& output, bool hasFigures, qint64 spanMs)
    {
        std::vector<double> latencies;
        int finished = 0;
        QStringList faults;
        for (int attempt = 0; int(latencies.size()) < trials && attempt < trials * 2; ++attempt) {
            const double atFraction = 0.02 + 0.86 * QRandomGenerator::global()->generateDouble();
            const qint64 atMs = qint64(double(spanMs) * QRandomGenerator::global()->generateDouble());
            QString fault;
            heartbeat.start();
            const double latency = stopOnce(selection, mode, output, [&](double fraction, qint64 sinceStart) {
                return hasFigures ? fraction >= atFraction : sinceStart >= atMs;
            }, fault);
            heartbeat.stop();
            if (latency < 0) {
                ++finished;
                if (!fault.isEmpty())
                    faults.append(fault);
                continue;
            }
            latencies.push_back(latency);
            if (!fault.isEmpty())
                faults.append(fault);
        }
        std::printf("stop while %-24s %2zu stops: median %.1f ms, max %.1f ms%s; %d finished first; load %s\n", name,
                    latencies.size(), median(latencies), latencies.empty() ? -1.0 : *std::max_element(latencies.begin(), latencies.end()),
                    faults.isEmpty() ? "" : " FAULTS", finished, qPrintable(loadText()));
        for (const QString& fault : faults)
            std::printf("  fault: %s\n", qPrintable(fault));
    }
};

// A folder of a large file and a few small ones, for the bundling stage.
QString makeTree(const QString& folder, const QString& large)
{
    const QString tree = QDir(folder).filePath(QStringLiteral("tree"));
    QDir().mkpath(tree + QStringLiteral("/inner"));
    for (int i = 0; i < 20; ++i)
        writeText(QStringLiteral("%1/inner/note-%2.txt").arg(tree).arg(i), QByteArray(4096 * (i + 1), char('a' + i)));
    QFile::link(large, tree + QStringLiteral("/large.bin"));   // links are left out of a bundle
    QFile::copy(large, tree + QStringLiteral("/large-copy.bin"));
    return tree + QLatin1Char('/');
}
} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const qint64 mebibytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 2048;
    const QString shots = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("/tmp/korvo-shots");
    const int trials = argc > 3 ? QByteArray(argv[3]).toInt() : 20;
    const int ratioRounds = argc > 4 ? QByteArray(argv[4]).toInt() : 5;
    QDir().mkpath(shots);
    std::printf("load average at the start: %s on %ld cores\n", qPrintable(loadText()), ::sysconf(_SC_NPROCESSORS_ONLN));

    QTemporaryDir work;
    const QString input = work.filePath(QStringLiteral("input.bin"));
    const QString gibibyte = work.filePath(QStringLiteral("gibibyte.bin"));
    if (!writeInput(input, mebibytes) || !writeInput(gibibyte, 1024)) {
        std::fprintf(stderr, "could not write the input files\n");
        return 1;
    }
    const QString output = work.filePath(QStringLiteral("input.bin.korvolocal"));
    auto dialogs = std::make_shared<FixedDialogs>();
    // The reference service for the account-mode stops; the store is told of it from the start.
    std::unique_ptr<ReferenceService> service;
    BridgeSurroundings surroundings = BridgeSurroundings::application();
    if (trials > 0) {
        service = std::make_unique<ReferenceService>();
        surroundings.environment = service->environment();
    }
    KorvoStore store(StoreDependencies{AppPaths(work.filePath(QStringLiteral("data"))), makeInMemoryKeychainBackend(),
                                       dialogs, {{QStringLiteral("KORVO_START_ROUTE"), QStringLiteral("local")}}, work.path(),
                                       std::make_shared<BridgeRunner>(surroundings, service ? service->url() : BridgeRunner::defaultBlackboxUrl())});
    KorvoStore::setApplicationStore(&store);
    AppDelegate delegate(&store);
    delegate.applicationDidFinishLaunching();
    QQuickWindow* window = delegate.mainWindow();
    // A person starts a lock once the window has shown itself and is idle: no frame for a second.
    QElapsedTimer launch;
    launch.start();
    std::atomic<int> launchFrames{0};
    const auto launchCounting = QObject::connect(window, &QQuickWindow::frameSwapped, window,
                                                 [&launchFrames] { ++launchFrames; }, Qt::DirectConnection);
    for (int seen = -1; seen != launchFrames && launch.elapsed() < 60000;) {
        seen = launchFrames;
        settle(1000);
    }
    QObject::disconnect(launchCounting);
    std::printf("window idle %.2f s after it was shown, %d frames drawn\n", launch.elapsed() / 1e3, int(launchFrames));
    Bench bench{store, window, *dialogs, work.path(), {}};

    // Whole locks: the first of the run (which may pay for building the overlay) and a later one.
    // The file is chosen first and the window left to settle, as a person picks a file and then
    // starts the lock (the window's answer to a new choice is not the lock's).
    for (const char* which : {"first", "second"}) {
        writeText(output, "an earlier file at the output path\n");
        store.setMode(KorvoStore::WorkMode::Encrypt);
        store.setSelectedURLs({input});
        settle(1000);
        const auto cpuBefore = processorTime();
        QElapsedTimer whole;
        whole.start();
        bench.heartbeat.start();
        const bool locked = bench.run({input}, KorvoStore::WorkMode::Encrypt, output);
        const double gap = bench.heartbeat.stop();
        std::printf("%s lock of %lld MiB: %.2f s (%s), largest heartbeat gap %.1f ms (timer every 5 ms), load %s\n", which,
                    static_cast<long long>(mebibytes), whole.nsecsElapsed() / 1e9,
                    locked ? "saved" : qPrintable(store.errorMessage()), gap, qPrintable(loadText()));
        printProcessorTime(cpuBefore, processorTime());
    }

    // A lock for the picture half way (grabbing the window holds the GUI thread).
    bool halfShot = false;
    const auto shotConnection = QObject::connect(store.progress(), &OperationProgress::changed, [&] {
        if (halfShot || !store.progress()->visible() || store.progress()->fraction() < 0.45)
            return;
        halfShot = true;
        QTimer::singleShot(100, [&] { window->grabWindow().save(shots + QStringLiteral("/progress-half.png")); });
    });
    bench.run({input}, KorvoStore::WorkMode::Encrypt, output);
    QObject::disconnect(shotConnection);
    const QString locked = work.filePath(QStringLiteral("locked.korvolocal"));
    QFile::rename(output, locked);

    // 1 GiB through the window against korvo-cli, taking turns which goes first. Each run starts
    // on a quiet disk: the other's output removed, everything written out, then a pause (a run
    // that follows another at once pays for the device still writing the first's data).
    if (ratioRounds > 0) {
        const QString cli = QStringLiteral(KORVO_BINARY_DIR "/src/cli/korvo-cli");
        const QString ratioOutput = work.filePath(QStringLiteral("ratio.korvolocal"));
        std::vector<double> cliSeconds, windowSeconds;
        std::atomic<int> frames{0};
        int framesDuring = 0;   // frames and processor time while the window's runs went on
        std::map<QString, double> cpuDuring;
        const auto counting = QObject::connect(window, &QQuickWindow::frameSwapped, window, [&frames] { ++frames; },
                                               Qt::DirectConnection);
        store.setSelectedURLs({gibibyte});
        const auto cpuBefore = processorTime();
        const int framesBefore = frames;
        for (int round = 0; round < ratioRounds; ++round) {
            for (int side = 0; side < 2; ++side) {
                QFile::remove(ratioOutput);
                ::sync();
                settle(1500);
                QElapsedTimer timer;
                timer.start();
                if ((side + round) % 2 == 0) {
                    if (QProcess::execute(cli, {"lock", "-q", "-f", "-o", ratioOutput, gibibyte}) != 0) {
                        std::fprintf(stderr, "korvo-cli lock failed; run inside scripts/headless-session.sh\n");
                        return 1;
                    }
                    cliSeconds.push_back(timer.nsecsElapsed() / 1e9);
                } else {
                    const int framesAtStart = frames;
                    const auto cpuAtStart = processorTime();
                    bench.run({gibibyte}, KorvoStore::WorkMode::Encrypt, ratioOutput);
                    windowSeconds.push_back(timer.nsecsElapsed() / 1e9);
                    framesDuring += frames - framesAtStart;
                    for (const auto& [name, ms] : processorTime())
                        cpuDuring[name] += ms - (cpuAtStart.count(name) ? cpuAtStart.at(name) : 0.0);
                }
            }
        }
        QObject::disconnect(counting);
        QFile::remove(ratioOutput);
        std::printf("1 GiB lock, median of %d: window %.3f s, korvo-cli %.3f s, window / korvo-cli %.3f; load %s\n",
                    ratioRounds, median(windowSeconds), median(cliSeconds), median(windowSeconds) / median(cliSeconds),
                    qPrintable(loadText()));
        std::printf("  window:");
        for (double s : windowSeconds)
            std::printf(" %.3f", s);
        std::printf("\n  korvo-cli:");
        for (double s : cliSeconds)
            std::printf(" %.3f", s);
        std::printf("\n  %.1f frames drawn per window lock, %.1f of them while it ran\n", double(frames - framesBefore) / ratioRounds,
                    double(framesDuring) / ratioRounds);
        printProcessorTime(cpuBefore, processorTime());
        std::printf("  while the window's runs went on, per run:");
        for (const auto& [name, ms] : cpuDuring)
            if (ms / ratioRounds >= 5)
                std::printf(" %s %.0f ms;", qPrintable(name), ms / ratioRounds);
        std::printf("\n");
    }

    if (trials > 0) {
        const QString tree = makeTree(work.path(), gibibyte);
        // The window after one stop, and what the folder holds then.
        QString fault;
        bench.stopOnce({input}, KorvoStore::WorkMode::Encrypt, output, [](double fraction, qint64) { return fraction >= 0.2; }, fault);
        settle(400);
        window->grabWindow().save(shots + QStringLiteral("/after-cancel.png"));
        std::printf("after one stop, status \"%s\"%s; the folder holds:\n", qPrintable(store.statusMessage()),
                    fault.isEmpty() ? "" : qPrintable(QStringLiteral(" (fault: ") + fault + ")"));
        for (const QFileInfo& entry : QDir(work.path()).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            std::printf("  %-28s %lld bytes\n", qPrintable(entry.fileName()), static_cast<long long>(entry.size()));
        std::printf("output path holds: %s", readText(output).constData());

        bench.stopStage("bundling (local)", trials, {tree}, KorvoStore::WorkMode::Encrypt, output, true, 0);
        bench.stopStage("locking (local)", trials, {input}, KorvoStore::WorkMode::Encrypt, output, true, 0);
        bench.stopStage("opening (local)", trials, {locked}, KorvoStore::WorkMode::Decrypt,
                        work.filePath(QStringLiteral("opened.bin")), true, 0);

        // Account mode: a fresh account with its first Korvo, then the same stops through the bridge.
        const int accountMebibytes = 40;
        const QString email = QStringLiteral("bench@example.com");
        const QString password = QStringLiteral("a bench password");
        store.leaveLocalMode();
        bool signedUp = QCoro::waitFor(store.registerAccountTask(email, password));
        signedUp = signedUp && QCoro::waitFor(store.verifyOtpAndFinishTask(email, password, store.routePrincipalId(),
                                                                           service->latestCode(email)));
        if (!signedUp || !store.selectedSecretId()) {
            std::printf("account mode: sign-up failed (%s); no account stops\n", qPrintable(store.errorMessage()));
        } else {
            // The service's monthly allowances (3 GB locked, 2 GB opened) count stopped runs as
            // well, so these runs take a smaller file.
            const QString plain = work.filePath(QStringLiteral("account.bin"));
            writeInput(plain, accountMebibytes);
            const QString sealed = work.filePath(QStringLiteral("account.bin.korvo"));
            QElapsedTimer whole;
            whole.start();
            const bool lockedOnline = bench.run({plain}, KorvoStore::WorkMode::Encrypt, sealed);
            const qint64 lockMs = whole.elapsed();
            whole.restart();
            const bool openedOnline = lockedOnline && bench.run({sealed}, KorvoStore::WorkMode::Decrypt, work.filePath("opened.bin"));
            const qint64 openMs = whole.elapsed();
            QFile::remove(work.filePath("opened.bin"));
            std::printf("account mode, whole runs of %d MiB: lock %.2f s (%s), open %.2f s (%s)\n", accountMebibytes, lockMs / 1e3,
                        lockedOnline ? "saved" : qPrintable(store.errorMessage()), openMs / 1e3,
                        openedOnline ? "saved" : qPrintable(store.errorMessage()));
            const QString accountOutput = work.filePath(QStringLiteral("account-output.korvo"));
            bench.stopStage("bundling (account)", trials, {tree}, KorvoStore::WorkMode::Encrypt, accountOutput, true, 0);
            // The bridge gives no figures: Escape at a random time in the first 90 % of a whole run
            // (its start, the service's answers, the file's bytes).
            bench.stopStage("locking (account)", trials, {plain}, KorvoStore::WorkMode::Encrypt, accountOutput, false,
                            lockMs * 9 / 10);
            bench.stopStage("opening (account)", trials, {sealed}, KorvoStore::WorkMode::Decrypt,
                            work.filePath(QStringLiteral("opened-account.bin")), false, openMs * 9 / 10);
        }
    }

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
