#include "core/bridge/BridgeRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <QElapsedTimer>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <csignal>
#include <mutex>
#include <set>
#include <unistd.h>

// The process ids of a runner's children while they run.
class BridgeChildren {
public:
    void add(qint64 pid)
    {
        std::lock_guard lock(m_mutex);
        m_pids.insert(pid);
    }
    void remove(qint64 pid)
    {
        std::lock_guard lock(m_mutex);
        m_pids.erase(pid);
    }
    void terminateAll()
    {
        std::lock_guard lock(m_mutex);
        for (const qint64 pid : m_pids)
            ::kill(static_cast<pid_t>(pid), SIGTERM);
    }

private:
    std::mutex m_mutex;
    std::set<qint64> m_pids;
};

namespace {

const QString kScriptVariable = QStringLiteral("KORVO_BRIDGE_SCRIPT");
const QString kScriptRelativePath = QStringLiteral("bridge/korvo-bridge.mjs");
const QString kBundledNode = QStringLiteral("node/bin/node");
const QString kEnvProgram = QStringLiteral("/usr/bin/env");
const QString kNodeName = QStringLiteral("node");
const QString kCheckArgument = QStringLiteral("--check");
const QString kInputNotRead = QStringLiteral("the bridge ended before reading it");

bool isExecutableFile(const QString& path)
{
    return QFileInfo(path).isFile() && ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

bool isInside(const QString& path, const QString& folder)
{
    const QString cleanFolder = QDir::cleanPath(folder);
    const QString cleanPath = QDir::cleanPath(path);
    return cleanPath == cleanFolder || cleanPath.startsWith(cleanFolder + u'/');
}

} // namespace

BridgeSurroundings BridgeSurroundings::application()
{
    BridgeSurroundings surroundings;
    const QString buildResources = QStringLiteral(KORVO_BUILD_RESOURCES_DIR);
    const QString buildTree = QDir::cleanPath(buildResources + QStringLiteral("/../.."));
    QString resources = QStringLiteral(KORVO_RESOURCES_INSTALL_DIR);
    if (QCoreApplication::instance() && isInside(QCoreApplication::applicationDirPath(), buildTree)) {
        resources = buildResources;
    } else if (QCoreApplication::instance()) {
        // An installation under another prefix than the configured one (cmake --install
        // --prefix, the package under /usr) keeps its resources beside its bin folder.
        const QString beside = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/korvo"));
        if (QFileInfo(beside).isDir())
            resources = beside;
    }
    if (QFileInfo(resources).isDir())
        surroundings.resourcesDirectory = resources;
    surroundings.nodeCandidates = {QStringLiteral("/opt/homebrew/bin/node"),
                                   QStringLiteral("/usr/local/bin/node")};
    return surroundings;
}

BridgeRunner::BridgeRunner(BridgeSurroundings surroundings, QString blackboxUrl)
    : m_surroundings(std::move(surroundings))
    , m_blackboxUrl(std::move(blackboxUrl))
    , m_children(std::make_shared<BridgeChildren>())
{
}

void BridgeRunner::terminateChildren() const
{
    m_children->terminateAll();
}

QString BridgeRunner::defaultBlackboxUrl()
{
    return QStringLiteral(KORVO_BLACKBOX_URL);
}

QString BridgeRunner::bridgeScriptPath() const
{
    const QProcessEnvironment environment =
        m_surroundings.environment.value_or(QProcessEnvironment::systemEnvironment());
    const QDir workingDirectory(m_surroundings.workingDirectory.value_or(QDir::currentPath()));

    if (environment.contains(kScriptVariable)) {
        const QString value = environment.value(kScriptVariable);
        // A value naming nothing is ignored and the search goes on.
        if (!value.isEmpty() && QFileInfo::exists(workingDirectory.absoluteFilePath(value)))
            return workingDirectory.absoluteFilePath(value);
    }

    QStringList candidates;
    if (m_surroundings.resourcesDirectory)
        candidates << QDir(*m_surroundings.resourcesDirectory).filePath(kScriptRelativePath);
    candidates << workingDirectory.filePath(kScriptRelativePath)
               << QDir::cleanPath(workingDirectory.absolutePath() + QStringLiteral("/../") + kScriptRelativePath);
    for (const QString& candidate : std::as_const(candidates)) {
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    throw BridgeError::missingBridge(candidates.first());
}

NodeLaunch BridgeRunner::nodeLaunch() const
{
    QStringList candidates;
    if (m_surroundings.resourcesDirectory)
        candidates << QDir(*m_surroundings.resourcesDirectory).filePath(kBundledNode);
    candidates << m_surroundings.nodeCandidates;
    for (const QString& candidate : std::as_const(candidates)) {
        if (isExecutableFile(candidate))
            return {candidate, {}};
    }
    return {kEnvProgram, {kNodeName}};
}

BridgeRunner::ChildLaunch BridgeRunner::childLaunch(QStringList extraArguments) const
{
    const QString script = bridgeScriptPath();
    const NodeLaunch node = nodeLaunch();
    ChildLaunch launch;
    launch.program = node.executablePath;
    launch.arguments = node.argumentsPrefix;
    launch.arguments << script << extraArguments;
    launch.environment = m_surroundings.environment.value_or(QProcessEnvironment::systemEnvironment());
    launch.workingDirectory = m_surroundings.workingDirectory.value_or(QDir::currentPath());
    launch.silenceLimit = m_surroundings.silenceLimit;
    launch.children = m_children;
    return launch;
}

BridgeRunner::ChildLaunch BridgeRunner::commandLaunch(const BridgeRequest& request) const
{
    ChildLaunch launch = childLaunch(QStringList());
    launch.input = request.toJson();
    launch.outputPath = request.outputPath;
    if (!request.outputPath)
        launch.silenceLimit = std::min(launch.silenceLimit, m_surroundings.requestSilenceLimit);
    return launch;
}

QCoro::Task<BridgeCheckResult> BridgeRunner::check() const
{
    ChildLaunch launch = childLaunch(QStringList(kCheckArgument));
    QCoro::Task<BridgeProcessResult> child = runChild(std::move(launch));
    const BridgeProcessResult process = co_await std::move(child);
    co_return BridgeOutcome::judgeCheck(process);
}

namespace {

// How a child run on a worker thread ended: its leftovers, or the error to raise.
struct ChildEnd {
    BridgeProcessResult process;
    std::exception_ptr error;
};

// The threads that start and wait for bridge children. Starting a child blocks the starting
// thread until the new process has executed node, which takes tens of milliseconds on a busy
// machine, so it never happens on the GUI thread. One thread per run in flight; the pool is
// never torn down, so a child still running at exit does not hold the application up.
QThreadPool* childThreads()
{
    static QThreadPool* const pool = [] {
        auto* threads = new QThreadPool;
        threads->setMaxThreadCount(256);
        return threads;
    }();
    return pool;
}

// Bytes the process has read and written through any file so far (its /proc io counters), or
// -1 where the system does not tell.
qint64 fileTraffic(qint64 pid)
{
    QFile io(QStringLiteral("/proc/%1/io").arg(pid));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    qint64 total = 0;
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:") || line.startsWith("wchar:"))
            total += line.mid(6).trimmed().toLongLong();
    }
    return total;
}

// Waits for the child to end, ending it when it stays silent past the limit: no output, and
// no reading or writing of any file (sealing a large file keeps a child reading).
void waitWhileAlive(QProcess& process, std::chrono::milliseconds limit)
{
    QElapsedTimer silence;
    silence.start();
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [&silence] { silence.restart(); });
    QObject::connect(&process, &QProcess::readyReadStandardError, [&silence] { silence.restart(); });
    const int poll = int(std::clamp<qint64>(limit.count() / 4, 10, 1000));
    qint64 traffic = fileTraffic(process.processId());
    while (!process.waitForFinished(poll)) {
        if (process.state() == QProcess::NotRunning)
            return;
        const qint64 now = fileTraffic(process.processId());
        if (now != traffic) {
            traffic = now;
            silence.restart();
        }
        if (silence.elapsed() >= limit.count()) {
            process.kill();
            process.waitForFinished(-1);
            throw BridgeProcessError::stoppedResponding();
        }
    }
}

// The bridge writes a result beside its place as ".NAME.<12 hex digits>.partial" and removes it
// on any failure or catchable signal. A child killed outright (the silence limit above, the
// system short of memory, kill -9) cannot, nor can one stopped while the file is being created:
// its unfinished file is removed here.
void removeUnfinishedOutput(const QString& outputPath)
{
    static const QRegularExpression partial(QStringLiteral("^[0-9a-f]{12}\\.partial$"));
    const QFileInfo output(outputPath);
    const QString prefix = QLatin1Char('.') + output.fileName() + QLatin1Char('.');
    const QDir folder = output.dir();
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (name.startsWith(prefix) && partial.match(QStringView(name).mid(prefix.size())).hasMatch())
            QFile::remove(folder.filePath(name));
    }
}

// The child's standard error as it arrives: lines "progress DONE TOTAL" go to the progress
// function; everything else is the error text the run may end with.
class ErrorStream {
public:
    explicit ErrorStream(const BridgeRunner::Progress& progress) : m_progress(progress) {}

    void add(const QByteArray& bytes)
    {
        m_pending += bytes;
        for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
            take(m_pending.left(end + 1));
            m_pending.remove(0, end + 1);
        }
    }
    QByteArray finish()
    {
        take(m_pending);
        m_pending.clear();
        return m_text;
    }

private:
    void take(const QByteArray& line)
    {
        const QList<QByteArray> words = line.trimmed().split(' ');
        bool doneRead = false;
        bool totalRead = false;
        if (words.size() == 3 && words[0] == "progress") {
            const qint64 done = words[1].toLongLong(&doneRead);
            const qint64 total = words[2].toLongLong(&totalRead);
            if (doneRead && totalRead) {
                if (m_progress)
                    m_progress(done, total);
                return;
            }
        }
        m_text += line;
    }

    const BridgeRunner::Progress& m_progress;
    QByteArray m_pending;
    QByteArray m_text;
};

ChildEnd runChildBlocking(const BridgeRunner::ChildLaunch& launch)
{
    ChildEnd end;
    try {
        QProcess process;
        process.setProgram(launch.program);
        process.setArguments(launch.arguments);
        process.setProcessEnvironment(launch.environment);
        process.setWorkingDirectory(launch.workingDirectory);
        if (!launch.input)
            process.setInputChannelMode(QProcess::ForwardedInputChannel);

        // While waiting, Qt feeds the input and reads both output pipes into memory as data
        // arrives, so a child that writes more than a pipe holds never blocks. Writes to the
        // child's input never raise SIGPIPE; a child that stops reading makes the write fail.
        qint64 delivered = 0;
        QObject::connect(&process, &QProcess::bytesWritten, [&delivered](qint64 count) { delivered += count; });
        ErrorStream errors(launch.progress);
        QObject::connect(&process, &QProcess::readyReadStandardError, [&] { errors.add(process.readAllStandardError()); });

        process.start();
        if (!process.waitForStarted(-1))
            throw BridgeProcessError::startFailed(process.errorString());
        const qint64 pid = process.processId();
        launch.children->add(pid);
        struct Forget {
            BridgeChildren& children;
            qint64 pid;
            ~Forget() { children.remove(pid); }
        } forget{*launch.children, pid};
        struct Leftovers {
            const QProcess& process;
            const std::optional<QString>& outputPath;
            ~Leftovers()
            {
                // A stopped bridge removes its file itself, but a stop that comes while the file is
                // still being created can miss it; a failed end of any kind is tidied here.
                const bool failed = process.exitStatus() == QProcess::CrashExit || process.exitCode() != 0;
                if (outputPath && process.state() == QProcess::NotRunning && failed)
                    removeUnfinishedOutput(*outputPath);
            }
        } leftovers{process, launch.outputPath};
        if (launch.input) {
            process.write(*launch.input);
            process.closeWriteChannel();
        }
        waitWhileAlive(process, launch.silenceLimit);

        if (launch.input && process.error() == QProcess::WriteError)
            throw BridgeProcessError::writeFailed(process.errorString());
        if (launch.input && delivered < launch.input->size())
            throw BridgeProcessError::writeFailed(kInputNotRead);

        end.process.exitedNormally = process.exitStatus() == QProcess::NormalExit;
        end.process.exitCode = process.exitCode();
        end.process.standardOutput = process.readAllStandardOutput();
        errors.add(process.readAllStandardError());
        end.process.standardError = errors.finish();
    } catch (...) {
        end.error = std::current_exception();
    }
    return end;
}

} // namespace

QCoro::Task<BridgeProcessResult> BridgeRunner::runChild(ChildLaunch launch)
{
    QFuture<ChildEnd> future = QtConcurrent::run(childThreads(), runChildBlocking, std::move(launch));
    ChildEnd end = co_await future;
    if (end.error)
        std::rethrow_exception(end.error);
    co_return std::move(end.process);
}
