// Locking a large file through the store against korvo-cli on the same file, while a timer on
// the GUI thread keeps ticking. Prints both times, their ratio and the largest heartbeat gap.
//   bench_app_lock [SIZE_MIB]   (default 1024; run inside scripts/headless-session.sh so
//                                korvo-cli finds a keychain)
#include "AppBench.h"
#include "KorvoStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {
double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const qint64 mebibytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    const QString cli = QStringLiteral(KORVO_BINARY_DIR "/src/cli/korvo-cli");
    constexpr int rounds = 5;

    QTemporaryDir work;
    const QString input = work.filePath(QStringLiteral("input.bin"));
    if (!writeInput(input, mebibytes)) {
        std::fprintf(stderr, "could not write the input file\n");
        return 1;
    }

    auto dialogs = std::make_shared<FixedDialogs>();
    dialogs->output = work.filePath(QStringLiteral("store.korvolocal"));
    KorvoStore store(StoreDependencies{AppPaths(work.filePath(QStringLiteral("data"))), makeInMemoryKeychainBackend(),
                                       dialogs, {}, work.path(), std::make_shared<BridgeRunner>()});
    store.enterLocalMode();

    // Rounds alternate between the two so that neither inherits the other's dirty pages; each
    // starts after a sync.
    std::vector<double> cliSeconds;
    std::vector<double> storeSeconds;
    qint64 largestGapNs = 0;
    int longGaps = 0;
    for (int round = 0; round < rounds; ++round) {
        const QString cliOutput = work.filePath(QStringLiteral("cli.korvolocal"));
        ::sync();
        QElapsedTimer cliTimer;
        cliTimer.start();
        const int status = QProcess::execute(cli, {QStringLiteral("lock"), QStringLiteral("-f"),
                                                   QStringLiteral("-o"), cliOutput, input});
        cliSeconds.push_back(cliTimer.nsecsElapsed() / 1e9);
        QFile::remove(cliOutput);
        if (status != 0) {
            std::fprintf(stderr, "korvo-cli lock failed (%d); run inside scripts/headless-session.sh\n", status);
            return 1;
        }

        QElapsedTimer sinceTick;
        QElapsedTimer timer;
        QTimer heartbeat;
        heartbeat.setTimerType(Qt::PreciseTimer);
        heartbeat.setInterval(5);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            const qint64 gap = sinceTick.nsecsElapsed();
            largestGapNs = std::max(largestGapNs, gap);
            if (gap > 20'000'000) {
                ++longGaps;
                std::fprintf(stderr, "gap %.1f ms ending at %.3f s\n", gap / 1e6, timer.nsecsElapsed() / 1e9);
            }
            sinceTick.restart();
        });
        store.setSelectedURLs({input});
        ::sync();
        timer.start();
        sinceTick.start();
        heartbeat.start();
        const bool ok = QCoro::waitFor(store.runFileOperationTask());
        heartbeat.stop();
        largestGapNs = std::max(largestGapNs, sinceTick.nsecsElapsed());
        storeSeconds.push_back(timer.nsecsElapsed() / 1e9);
        std::fprintf(stderr, "round took %.3f s\n", storeSeconds.back());
        QFile::remove(dialogs->output);
        if (!ok) {
            std::fprintf(stderr, "store lock failed: %s\n", qPrintable(store.errorMessage()));
            return 1;
        }
    }

    const double cliMedian = median(cliSeconds);
    const double storeMedian = median(storeSeconds);
    std::printf("input                      %lld MiB\n", static_cast<long long>(mebibytes));
    std::printf("korvo-cli lock (median/%d) %.3f s\n", rounds, cliMedian);
    std::printf("store lock (median/%d)     %.3f s\n", rounds, storeMedian);
    std::printf("store / korvo-cli          %.3f (target at most 1.2)\n", storeMedian / cliMedian);
    std::printf("largest heartbeat gap      %.1f ms (timer every 5 ms)\n", largestGapNs / 1e6);
    std::printf("gaps over 20 ms            %d in %d rounds\n", longGaps, rounds);
    return 0;
}
