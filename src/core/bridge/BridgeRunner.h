#pragma once

#include "core/bridge/BridgeOutcome.h"
#include "core/bridge/BridgeRequest.h"
#include "core/bridge/BridgeResults.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

// The running children of one runner, or of one run: ending them early sends each SIGTERM, on
// which the bridge removes its unfinished output. A child that starts after the group was ended
// is ended as soon as it has started.
class BridgeChildren {
public:
    void terminateAll();

    // Called by the runner around each child's life; false when the group was already ended.
    bool add(qint64 pid);
    void remove(qint64 pid);

private:
    std::mutex m_mutex;
    std::set<qint64> m_pids;
    bool m_terminated = false;
};

// How node is started: the program, and the arguments that go before the script's path
// ("node" when node is found through /usr/bin/env on the inherited search path).
struct NodeLaunch {
    QString executablePath;
    QStringList argumentsPrefix;
    bool operator==(const NodeLaunch&) const = default;
};

// Where the runner looks for node and the bridge script. The live values are read again on
// every run; tests replace them.
struct BridgeSurroundings {
    // The process environment (KORVO_BRIDGE_SCRIPT); the child gets it as its environment.
    // Absent: the application's own, as it is at the time of the run.
    std::optional<QProcessEnvironment> environment;
    // The child's working directory and the base of the script search. Absent: the
    // application's current directory at the time of the run.
    std::optional<QString> workingDirectory;
    // The application's resources directory, when it has one.
    std::optional<QString> resourcesDirectory;
    // Well-known places of node, tried after the resources' own copy.
    QStringList nodeCandidates;
    // A child that writes nothing and reads or writes no file for this long is ended. Sealing a
    // large file keeps the child reading, so long runs are not cut short.
    std::chrono::milliseconds silenceLimit = std::chrono::minutes(2);
    // The same for a request to the service (a command without a file): the bridge gives up on
    // a silent service after 15 s by itself; this ends a child that could not even do that.
    std::chrono::milliseconds requestSilenceLimit = std::chrono::seconds(20);

    // The application's own: the build tree's resources when running from the build folder,
    // otherwise the installed ones.
    static BridgeSurroundings application();
};

// Runs the bridge script under node: one child per command, the request on its standard input,
// the envelope read from its standard output. Holds no state besides its configuration, so any
// number of runs may be in flight at once; each run continues until its child exits, even when
// nobody awaits it any longer. Each child is started and waited for on a worker thread; the
// caller resumes on its own thread.
class BridgeRunner {
public:
    explicit BridgeRunner(BridgeSurroundings surroundings = BridgeSurroundings::application(),
                          QString blackboxUrl = defaultBlackboxUrl());

    // The built-in address of the online service.
    static QString defaultBlackboxUrl();
    // The service address that requests carry; the runner itself does not use it.
    const QString& blackboxUrl() const { return m_blackboxUrl; }
    // A request for `command` carrying that address: the way every command's request starts.
    BridgeRequest request(const QString& command) const
    {
        BridgeRequest request;
        request.command = command;
        request.blackboxUrl = m_blackboxUrl;
        return request;
    }

    // Runs the script with "--check" and nothing on its input.
    QCoro::Task<BridgeCheckResult> check() const;

    // How far a file command has come (bytes of its input), as the bridge reports it on its
    // standard error; called on a worker thread.
    using Progress = std::function<void(qint64 done, qint64 total)>;

    // Runs one command and reads its result record T. Throws BridgeError, BridgeDecodingError
    // or BridgeProcessError. `job`, when given, ends this run's child alone (Cancel of one job).
    template<typename T>
    QCoro::Task<T> run(BridgeRequest request, Progress progress = {}, std::shared_ptr<BridgeChildren> job = {}) const
    {
        // Everything the child needs is taken before the first suspension, so the runner may
        // go away while the child runs.
        // GCC 12 may destroy temporaries inside a co_await expression twice: await named locals.
        ChildLaunch launch = commandLaunch(request);
        launch.progress = std::move(progress);
        launch.job = std::move(job);
        QCoro::Task<BridgeProcessResult> child = runChild(std::move(launch));
        const BridgeProcessResult process = co_await std::move(child);
        co_return BridgeOutcome::judgeCommand<T>(process);
    }

    // Ends every child of this runner still running, and any started later (the application is
    // quitting): each gets SIGTERM, on which the bridge removes its unfinished output. One job
    // alone is ended through the `job` of its run.
    void terminateChildren() const;

    // The script to run (may throw BridgeError::missingBridge) and the way to start node.
    QString bridgeScriptPath() const;
    NodeLaunch nodeLaunch() const;

    // Everything needed to start one child.
    struct ChildLaunch {
        QString program;
        QStringList arguments;
        QProcessEnvironment environment;
        QString workingDirectory;
        std::optional<QByteArray> input;   // absent: the child keeps the application's input
        std::chrono::milliseconds silenceLimit{};
        std::optional<QString> outputPath;   // a file command's result, for the leftovers of a killed child
        Progress progress;                   // reports read from the child's standard error
        std::shared_ptr<BridgeChildren> children;   // every child of the runner
        std::shared_ptr<BridgeChildren> job;        // this run's alone, when the caller wants to end it
    };

private:
    ChildLaunch commandLaunch(const BridgeRequest& request) const;
    ChildLaunch childLaunch(QStringList extraArguments) const;
    static QCoro::Task<BridgeProcessResult> runChild(ChildLaunch launch);

    BridgeSurroundings m_surroundings;
    QString m_blackboxUrl;
    std::shared_ptr<BridgeChildren> m_children;
};
