#include "cli/CliAccountCommands.h"

#include "cli/CliAccountSession.h"
#include "cli/Console.h"
#include "cli/Interruption.h"
#include "cli/ProgressBar.h"
#include "core/ActivityHistory.h"
#include "core/PlatformWording.h"
#include "core/flows/FileJob.h"
#include "core/flows/FlowError.h"
#include "core/flows/KorvosFlow.h"
#include "core/flows/SignInFlow.h"
#include "core/flows/UsageFlow.h"
#include "core/LocalFileProtectionService.h"
#include "core/Cancellation.h"
#include "core/NativePath.h"
#include "core/OutputNames.h"

#include <QDir>
#include <QUuid>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <sys/stat.h>
#include <unistd.h>

namespace CliAccountCommands {
namespace {

constexpr bool localMode = false;
const QByteArray accountMagic = QByteArrayLiteral("KORVOACCT");
const QString standardStream = QStringLiteral("-");
const QString removedStatus = platformText(QStringLiteral("This Mac was removed from your account."));
const QString removalFailed = platformText(QStringLiteral("This Mac could not remove its saved sign-in data."));

// ---- the password ----

// One line from standard input, without its line break; echo off when it is a terminal. Ctrl-C
// restores the terminal before the command stops.
QString readPassword(bool fromStandardInput)
{
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    if (!fromStandardInput && !terminal)
        throw CliError(QStringLiteral("sign-in: standard input is not a terminal; give the password with --password-stdin"));
    termios saved {};
    const bool hideEcho = terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (hideEcho) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        std::fputs("Password: ", stderr);
        std::fflush(stderr);
    }
    const auto restore = [&] {
        if (hideEcho) {
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
            std::fputs("\n", stderr);
        }
    };
    QByteArray line;
    char byte = 0;
    for (;;) {
        pollfd ready{STDIN_FILENO, POLLIN, 0};
        if (Interruption::cancellation().requested()) {
            restore();
            throw OperationCancelled();
        }
        if (::poll(&ready, 1, 20) <= 0)
            continue;
        const ssize_t got = ::read(STDIN_FILENO, &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || byte == '\n')
            break;
        line.append(byte);
    }
    restore();
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

// ---- scratch files for standard input and output ----

// A descriptor closed when it goes.
struct Descriptor {
    int fd;
    explicit Descriptor(int descriptor) : fd(descriptor) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

Descriptor openForReading(const QString& path)
{
    return Descriptor(::open(NativePath::toNative(path).constData(), O_RDONLY | O_CLOEXEC));
}

// A file in the temporary folder that holds data only while the command runs: listed as a
// scratch file (Ctrl-C removes it) and removed when the command ends.
class ScratchFile {
public:
    explicit ScratchFile(const QString& suffix)
        : m_path(QDir(QDir::tempPath()).filePath(QStringLiteral(".korvo-") + QUuid::createUuid().toString(QUuid::WithoutBraces) + suffix))
    {
        ScratchFiles::track(NativePath::toNative(m_path));
    }
    ~ScratchFile()
    {
        const QByteArray native = NativePath::toNative(m_path);
        ::unlink(native.constData());
        ScratchFiles::release(native);
    }
    const QString& path() const { return m_path; }

private:
    QString m_path;
};

// Copies everything from `from` to `to`; the engine's write error when it cannot.
void copyAll(int from, int to)
{
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        Interruption::cancellation().throwIfRequested();
        const ssize_t got = ::read(from, buffer.data(), size_t(buffer.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw LocalFileProtectionError::unreadableFile();
        if (got == 0)
            return;
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(to, buffer.constData() + written, size_t(got - written));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                throw LocalFileProtectionError::writeFailed(errno);
            written += put;
        }
    }
}

// ---- the file commands ----

// The shared part of lock and open: the job through the bridge with a progress bar; a refusal
// of the bridge is said about the input.
FileJobResult runThroughBridge(CliAccountSession& session, FileJob& job, const AccountIdentity& identity,
                               const PreparedInput& input, const QString& target, FileJob::Direction direction,
                               qint64 secretId, const CliCommands::Context& context)
{
    ProgressBar bar(direction == FileJob::Direction::lock ? "Locking" : "Opening");
    const FileJob::Figures figures = job.figures();
    try {
        return session.wait(job.runAccount(session.services(), identity, input, target, direction, secretId), [&] {
            qint64 done = 0, total = 0;
            figures(done, total);
            bar.update(done, total);
        });
    } catch (const OperationCancelled&) {
        throw;
    } catch (const KorvoError& error) {
        throw CliError(context.input + QStringLiteral(": ") + accountFailureSentence(error.message()));
    }
}

// Sends a finished scratch result to standard output.
void sendToStandardOutput(const QString& path)
{
    const Descriptor file = openForReading(path);
    if (file.fd < 0)
        throw LocalFileProtectionError::unreadableFile();
    copyAll(file.fd, STDOUT_FILENO);
}

// ---- the account commands ----

void signIn(const CliOptions& options)
{
    CliAccountSession session;
    const QString password = readPassword(options.passwordFromStandardInput);
    const std::optional<AccountIdentity> saved = session.savedIdentity();
    const SignInFlow flow(session.services(), [](const QString& line) { Console::note(line); });
    const AccountIdentity verified = session.wait(flow.verify(options.paths.first(), password, saved));
    AccountIdentity identity = session.wait(flow.openSession(verified, password)).identity;
    const KorvosFlow korvos(session.services());
    const KorvosFlow::Listed listed = session.wait(korvos.refresh(identity, identity.selectedSecretId, true));
    if (listed.choice)
        identity = session.wait(korvos.saveSelection(identity, *listed.choice));
    if (Console::level() != Console::Level::quiet)
        Console::printLine(stdout, QStringLiteral("Signed in as %1; Korvo #%2 is selected.")
                                       .arg(identity.email)
                                       .arg(identity.selectedSecretId.value_or(0)));
}

void signOut()
{
    CliAccountSession session;
    if (!session.savedIdentity()) {
        Console::printLine(stdout, QStringLiteral("Not signed in."));
        return;
    }
    const bool identityRemoved = session.wait(session.services().keychain->deleteIdentity());
    const bool historyRemoved = ActivityHistory(AppPaths::standard()).remove(ActivityHistory::Mode::account);
    if (!identityRemoved || !historyRemoved)
        throw CliError(removalFailed);
    if (Console::level() != Console::Level::quiet)
        Console::printLine(stdout, removedStatus);
}

QString usageLine(const char* verb, const UsageStats& stats)
{
    return QStringLiteral("%1 %2 of %3 GB (%4 %5)")
        .arg(QLatin1String(verb), QString::number(stats.usedGB, 'g', 3), QString::number(stats.limitGB, 'g', 3))
        .arg(stats.count)
        .arg(stats.count == 1 ? QStringLiteral("file") : QStringLiteral("files"));
}

void status()
{
    CliAccountSession session;
    const std::optional<AccountIdentity> identity = session.savedIdentity();
    if (!identity) {
        Console::printLine(stdout, QStringLiteral("Mode: local (not signed in)"));
        return;
    }
    const bool pending = identity->deviceKeyConfirmationPending.value_or(false);
    Console::printLine(stdout, QStringLiteral("Mode: account"));
    Console::printLine(stdout, QStringLiteral("Account: ") + identity->email
                                   + (pending ? QStringLiteral(" (confirm the security email, then sign in again)") : QString()));
    Console::printLine(stdout, identity->selectedSecretId ? QStringLiteral("Korvo: #%1").arg(*identity->selectedSecretId)
                                                          : QStringLiteral("Korvo: none selected"));
    QString usage;
    try {
        const DataConsumptionResult figures = session.wait(UsageFlow(session.services()).fetch(*identity));
        usage = usageLine("locked", figures.encryption) + QStringLiteral(", ") + usageLine("opened", figures.decryption);
    } catch (const OperationCancelled&) {
        throw;
    } catch (const KorvoError& error) {
        usage = QStringLiteral("unavailable (") + accountFailureSentence(error.message()) + QLatin1Char(')');
    }
    Console::printLine(stdout, QStringLiteral("Usage this month: ") + usage);
}

void korvos(const CliOptions& options)
{
    CliAccountSession session;
    AccountIdentity identity = session.signedInIdentity();
    const KorvosFlow flow(session.services());
    if (options.newKorvo) {
        const qint64 created = session.wait(flow.create(identity));
        identity = session.wait(flow.saveSelection(identity, created));
        Console::note(QStringLiteral("Korvo #%1 created and selected").arg(created));
    }
    const KorvosFlow::Listed listed = session.wait(flow.refresh(identity, identity.selectedSecretId, false));
    if (listed.choice)
        identity = session.wait(flow.saveSelection(identity, *listed.choice));
    if (options.selectKorvo) {
        const qint64 wanted = *options.selectKorvo;
        const bool listedHere = std::any_of(listed.secrets.begin(), listed.secrets.end(),
                                            [&](const KorvoSecret& secret) { return secret.secretId == wanted; });
        if (!listedHere)
            throw CliError(QStringLiteral("korvos: Korvo #%1 is not one of this account's").arg(wanted));
        identity = session.wait(flow.saveSelection(identity, wanted));
    }
    for (const KorvoSecret& secret : listed.secrets) {
        QString line = QStringLiteral("#%1").arg(secret.secretId);
        if (secret.secretId == identity.selectedSecretId)
            line += QStringLiteral("  selected");
        if (secret.isSyncing.value_or(0) != 0)
            line += QStringLiteral("  syncing");
        Console::printLine(stdout, line);
    }
    if (listed.secrets.empty())
        Console::note(QStringLiteral("this account has no Korvo yet; create one with korvo-cli korvos --new"));
}

} // namespace

bool isAccountFile(const QString& path)
{
    // Only a regular file is looked at: reading the head of a pipe would take it from the opening.
    struct stat info {};
    if (::stat(NativePath::toNative(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    const Descriptor file = openForReading(path);
    QByteArray head(accountMagic.size(), '\0');
    return file.fd >= 0 && ::read(file.fd, head.data(), size_t(head.size())) == head.size() && head == accountMagic;
}

void run(const CliOptions& options)
{
    switch (options.command) {
    case CliOptions::Command::signIn: signIn(options); return;
    case CliOptions::Command::signOut: signOut(); return;
    case CliOptions::Command::status: status(); return;
    case CliOptions::Command::korvos: korvos(options); return;
    default: return;
    }
}

std::optional<CliCommands::Saved> lock(const CliOptions& options, CliCommands::Context& context)
{
    using namespace CliCommands;
    const LockEnds ends = lockEnds(options, context);
    const bool fromStandardInput = ends.fromStandardInput, toStandardOutput = ends.toStandardOutput;

    CliAccountSession session;
    const AccountIdentity identity = session.signedInIdentity();
    std::optional<ScratchFile> input, result;
    if (fromStandardInput) {
        input.emplace(QString());
        const Descriptor copy(::open(NativePath::toNative(input->path()).constData(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (copy.fd < 0)
            throw CliError(QStringLiteral("standard input: cannot be kept in the temporary folder: ")
                           + QString::fromLocal8Bit(std::strerror(errno)));
        copyAll(STDIN_FILENO, copy.fd);
    }
    FileJob job(QDir::tempPath(), session.fileQueue(),
                std::shared_ptr<const Cancellation>(&Interruption::cancellation(), [](const Cancellation*) {}));
    const QStringList paths = fromStandardInput ? QStringList{input->path()} : selectionPaths(options.paths);
    if (paths.size() > 1 || paths.first().endsWith(QLatin1Char('/')))
        Console::detail(QStringLiteral("bundling %1 item(s) into a temporary zip archive").arg(paths.size()));
    PreparedInput prepared;
    try {
        prepared = session.wait(job.prepare(paths));
    } catch (const BundleError& error) {
        throw error.archiveError();   // worded by file, as the local commands word it
    }
    if (const QString note = prepared.skippedNote(); !note.isEmpty())
        Console::note(note);
    if (!fromStandardInput && prepared.url != paths.first())
        context.input = prepared.displayName;

    std::optional<QString> output;
    if (toStandardOutput) {
        result.emplace(OutputNames::accountExtension);
    } else {
        output = outputPath(options.output, fromStandardInput ? QString() : OutputNames::protectedName(prepared.displayName, localMode),
                            context.input);
        context.output = shownPath(*output);
        refuseExisting(*output, options.force);
    }
    Console::detail(QStringLiteral("locking %1 for Korvo #%2").arg(context.input).arg(*options.recipient));
    runThroughBridge(session, job, identity, prepared, result ? result->path() : *output, FileJob::Direction::lock,
                     *options.recipient, context);
    if (result)
        sendToStandardOutput(result->path());
    return saved(output, options);
}

std::optional<CliCommands::Saved> open(const CliOptions& options, CliCommands::Context& context)
{
    using namespace CliCommands;
    const QString& argument = options.paths.first();
    const bool toStandardOutput = options.output == standardStream;
    context.input = argument;
    requireInputs({argument});
    const QString input = absolutePath(argument);
    std::optional<QString> output;
    std::optional<ScratchFile> result;
    if (toStandardOutput) {
        refuseTerminal();
        result.emplace(QString());
    } else {
        const QString name = OutputNames::openedName(fileName(input), localMode);
        output = outputPath(options.output, name == fileName(input) ? QString() : name, context.input);
        context.output = shownPath(*output);
        refuseExisting(*output, options.force);
    }

    // The Korvo the file was locked for (bytes 18 to 25, big-endian); the service decides
    // whether this account may open it.
    qint64 secretId = 0;
    {
        const Descriptor file = openForReading(input);
        unsigned char header[26] = {};
        if (file.fd < 0 || ::read(file.fd, header, sizeof header) != ssize_t(sizeof header))
            throw CliError(context.input + QStringLiteral(": not a complete .korvo file"));
        for (int i = 18; i < 26; ++i)
            secretId = (secretId << 8) | header[i];
    }
    CliAccountSession session;
    const AccountIdentity identity = session.signedInIdentity();
    FileJob job(QDir::tempPath(), session.fileQueue(),
                std::shared_ptr<const Cancellation>(&Interruption::cancellation(), [](const Cancellation*) {}));
    const PreparedInput prepared{input, std::nullopt, fileName(input)};
    Console::detail(QStringLiteral("opening %1 as %2").arg(context.input, identity.email));
    runThroughBridge(session, job, identity, prepared, result ? result->path() : *output, FileJob::Direction::open,
                     secretId, context);
    if (result)
        sendToStandardOutput(result->path());
    return saved(output, options);
}

} // namespace CliAccountCommands
