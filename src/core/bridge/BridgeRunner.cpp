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
#include <sys/prctl.h>
#include <unistd.h>

void BridgeChildren::terminateAll()
{
    std::lock_guard lock(m_mutex);
    m_terminated = true;
    for (const qint64 pid : m_pids)
        ::kill(static_cast<pid_t>(pid), SIGTERM);
}

bool BridgeChildren::add(qint64 pid)
{
    std::lock_guard lock(m_mutex);
    m_pids.insert(pid);
    return !m_terminated;
}

void BridgeChildren::remove(qint64 pid)
{
    std::lock_guard lock(m_mutex);
    m_pids.erase(pid);
}

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

// The bridge writes a result beside its place as ".NAME.<SUFFIX>.partial" and names SUFFIX (12
// hexadecimal digits) on its standard error before it creates the file; it removes the file on
// any failure, signal or broken pipe. A child killed outright (the silence limit above, the
// system short of memory, kill -9) cannot: the files it named are removed here, and nothing
// else beside the output, which may be the user's own or another job's.
void removeUnfinishedOutput(const QString& outputPath, const QString& workingDirectory, const QStringList& suffixes)
{
    const QFileInfo output(QDir(workingDirectory), outputPath);
    for (const QString& suffix : suffixes)
        QFile::remove(output.dir().filePath(QLatin1Char('.') + output.fileName() + QLatin1Char('.') + suffix + QStringLiteral(".partial")));
}

// The child's standard error as it arrives: lines "progress DONE TOTAL" go to the progress
// function, lines "unfinished SUFFIX" name its temporary files; everything else is the error
// text the run may end with.
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
    // The suffixes of the temporary files the child named.
    const QStringList& unfinished() const { return m_unfinished; }

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
        static const QRegularExpression unfinished(QStringLiteral("^unfinished ([0-9a-f]{12})$"));
        const QRegularExpressionMatch named = unfinished.match(QString::fromLatin1(line.trimmed()));
        if (named.hasMatch()) {
            m_unfinished << named.captured(1);
            return;
        }
        m_text += line;
    }

    const BridgeRunner::Progress& m_progress;
    QStringList m_unfinished;
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

        // The child gets SIGTERM when the application dies, so that it removes its unfinished
        // output rather than finishing a job nobody waits for. The signal follows the thread
        // that started the child: this one, which waits below until the child has ended.
        const pid_t parent = ::getpid();
        process.setChildProcessModifier([parent] {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)   // the application died before the line above
                ::raise(SIGTERM);
        });

        process.start();
        if (!process.waitForStarted(-1))
            throw BridgeProcessError::startFailed(process.errorString());
        const qint64 pid = process.processId();
        struct Forget {
            const BridgeRunner::ChildLaunch& launch;
            qint64 pid;
            ~Forget()
            {
                launch.children->remove(pid);
                if (launch.job)
                    launch.job->remove(pid);
            }
        } forget{launch, pid};
        // A group ended while this child was starting ends it now.
        const bool wantedByAll = launch.children->add(pid);
        const bool wantedByJob = !launch.job || launch.job->add(pid);
        if (!wantedByAll || !wantedByJob)
            ::kill(static_cast<pid_t>(pid), SIGTERM);
        struct Leftovers {
            QProcess& process;
            const BridgeRunner::ChildLaunch& launch;
            ErrorStream& errors;
            ~Leftovers()
            {
                errors.add(process.readAllStandardError());
                // A bridge that answered (0 or 1) has put its result in place or removed it; one
                // that ended any other way may have left the files it named.
                const bool answered = process.exitStatus() == QProcess::NormalExit
                    && (process.exitCode() == 0 || process.exitCode() == 1);
                if (launch.outputPath && process.state() == QProcess::NotRunning && !answered)
                    removeUnfinishedOutput(*launch.outputPath, launch.workingDirectory, errors.unfinished());
            }
        } leftovers{process, launch, errors};
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
