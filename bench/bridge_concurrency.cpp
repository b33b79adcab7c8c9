// How the bridge runner behaves with many commands in flight: 20 runs of a bridge that pauses
// 50 ms per command, all started at once, while a 10 ms heartbeat timer on the same (GUI)
// thread records its largest gap. Measured twice: with the node fixture bridge of the tests,
// and with a shell stand-in (bridge_stub.sh run by /bin/sh in place of node) that shows the
// runner's own overhead without node's start-up cost. Prints the wall time against
// 20 × 50 ms and against 20 runs one after another, and the heartbeat's largest gap next to
// its largest gap on an idle event loop.
//
// Usage: bench_bridge_concurrency [runs=20] [pause-ms=50]

#include "core/bridge/BridgeRunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QTimer>

#include <qcoro/qcorotask.h>
#include <qcoro/qcorotimer.h>

#include <cstdio>
#include <vector>

namespace {

BridgeRunner runnerFor(const QString& script, int pauseMs, const QStringList& nodeCandidates)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KORVO_BRIDGE_SCRIPT", script);
    environment.insert("FIXTURE_DELAY_MS", QString::number(pauseMs));
    BridgeSurroundings surroundings = BridgeSurroundings::application();
    surroundings.environment = environment;
    surroundings.resourcesDirectory.reset();
    surroundings.nodeCandidates = nodeCandidates;
    return BridgeRunner(surroundings);
}

QCoro::Task<bool> runOne(const BridgeRunner& runner, int i)
{
    BridgeRequest request;
    request.command = QStringLiteral("listSecrets");
    request.secretId = i;
    try {
        co_await runner.run<SimpleMessageResult>(request);
        co_return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "run %d failed: %s\n", i, e.what());
        co_return false;
    }
}

QCoro::Task<int> runAll(const BridgeRunner& runner, int runs)
{
    std::vector<QCoro::Task<bool>> tasks;
    for (int i = 0; i < runs; ++i)
        tasks.push_back(runOne(runner, i));
    int failures = 0;
    for (auto& task : tasks)
        failures += (co_await task) ? 0 : 1;
    co_return failures;
}

QCoro::Task<> idle(int ms)
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    timer.start(ms);
    co_await timer;
}

// A precise 10 ms timer on the GUI thread that remembers its largest gap.
class Heartbeat {
public:
    Heartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_largestGapNs = std::max(m_largestGapNs, m_sinceBeat.nsecsElapsed());
            m_sinceBeat.restart();
        });
        m_sinceBeat.start();
        m_timer.start();
    }
    double largestGapMs()
    {
        return std::max(m_largestGapNs, m_sinceBeat.nsecsElapsed()) / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_sinceBeat;
    qint64 m_largestGapNs = 0;
};

struct Figures {
    double singleMs = 0;
    double wallMs = 0;
    double gapMs = 0;
    int failures = 0;
};

Figures measure(const BridgeRunner& runner, int runs)
{
    Figures figures;
    QCoro::waitFor(runOne(runner, -1));   // warms the file cache
    QElapsedTimer single;
    single.start();
    QCoro::waitFor(runOne(runner, -1));
    figures.singleMs = single.nsecsElapsed() / 1e6;

    Heartbeat heartbeat;
    QElapsedTimer wall;
    wall.start();
    figures.failures = QCoro::waitFor(runAll(runner, runs));
    figures.wallMs = wall.nsecsElapsed() / 1e6;
    figures.gapMs = heartbeat.largestGapMs();
    return figures;
}

void print(const char* label, const Figures& f, int runs, int pauseMs, double idleGapMs)
{
    const double pausesMs = double(runs) * pauseMs;
    std::printf("%s\n", label);
    std::printf("  one run alone                        %8.1f ms\n", f.singleMs);
    std::printf("  %2d concurrent runs, wall time        %8.1f ms\n", runs, f.wallMs);
    std::printf("  ratio to %d x %d ms                   %8.2f\n", runs, pauseMs, f.wallMs / pausesMs);
    std::printf("  ratio to %d runs one after another    %8.2f\n", runs, f.wallMs / (f.singleMs * runs));
    std::printf("  heartbeat largest gap                %8.1f ms (idle loop: %.1f ms)\n", f.gapMs, idleGapMs);
    if (f.failures > 0)
        std::printf("  FAILED RUNS: %d\n", f.failures);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    const int pauseMs = argc > 2 ? std::atoi(argv[2]) : 50;

    double idleGapMs = 0;
    {
        Heartbeat heartbeat;
        QCoro::waitFor(idle(1000));
        idleGapMs = heartbeat.largestGapMs();
    }

    const Figures node = measure(
        runnerFor(QStringLiteral(KORVO_SOURCE_DIR "/tests/core/fixtures/bridge/fixture-bridge.mjs"), pauseMs, {}),
        runs);
    const Figures stub = measure(
        runnerFor(QStringLiteral(KORVO_SOURCE_DIR "/bench/bridge_stub.sh"), pauseMs, {QStringLiteral("/bin/sh")}),
        runs);

    std::printf("bridge runner: %d concurrent runs, each pausing %d ms\n", runs, pauseMs);
    print("node fixture bridge (node start-up included)", node, runs, pauseMs, idleGapMs);
    print("shell stand-in (runner overhead only)", stub, runs, pauseMs, idleGapMs);
    return node.failures + stub.failures == 0 ? 0 : 1;
}
