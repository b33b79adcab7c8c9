#include "cli/CliCommands.h"

#include "cli/Console.h"
#include "cli/Interruption.h"
#include "cli/ProgressBar.h"
#include "core/FilePreparationService.h"
#include "core/LocalFileProtectionService.h"
#include "core/Cancellation.h"
#include "core/local/FileIo.h"
#include "core/NativePath.h"
#include "core/OutputNames.h"

#include <QDir>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace CliCommands {
namespace {

using Progress = LocalFileProtectionService::Progress;
constexpr bool localMode = true;   // the command line works in local mode only
const QString standardStream = QStringLiteral("-");

} // namespace

bool isFolder(const QString& path)
{
    struct stat info {};
    return ::stat(NativePath::toNative(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

QString fileName(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString currentFolder()
{
    QByteArray folder(4096, '\0');
    while (::getcwd(folder.data(), static_cast<std::size_t>(folder.size())) == nullptr && errno == ERANGE)
        folder.resize(folder.size() * 2);
    return NativePath::fromNative(folder.constData());
}

// An absolute, clean path, worked out on the text alone so that names whose bytes are not UTF-8
// keep them (see NativePath).
QString absolutePath(const QString& path)
{
    return QDir::cleanPath(path.startsWith(QLatin1Char('/')) ? path : currentFolder() + QLatin1Char('/') + path);
}

// The engine's selection: absolute paths, folders with a trailing "/".
QStringList selectionPaths(const QStringList& arguments)
{
    QStringList paths;
    for (const QString& argument : arguments) {
        QString path = absolutePath(argument);
        if (isFolder(path) && !path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        paths.append(path);
    }
    return paths;
}

// Every input must be there before anything else happens (the keychain key is made on first use).
void requireInputs(const QStringList& arguments)
{
    for (const QString& argument : arguments) {
        struct stat info {};
        if (::stat(NativePath::toNative(argument).constData(), &info) != 0)
            throw CliError(argument + QStringLiteral(": ")
                           + (errno == ENOENT ? QStringLiteral("No such file") : QString::fromLocal8Bit(std::strerror(errno))));
    }
}

// Where an output goes: the file given; inside the folder given, or else the current folder,
// under the default name. An empty default name cannot be used.
QString outputPath(const std::optional<QString>& given, const QString& defaultName, const QString& input)
{
    if (given && !isFolder(absolutePath(*given)))
        return absolutePath(*given);
    if (defaultName.isEmpty())
        throw CliError(input + QStringLiteral(": cannot tell the output name; use -o FILE"));
    return QDir::cleanPath((given ? absolutePath(*given) : currentFolder()) + QLatin1Char('/') + defaultName);
}

void refuseExisting(const QString& output, bool force)
{
    struct stat info {};
    if (!force && ::lstat(NativePath::toNative(output).constData(), &info) == 0)
        throw CliError(shownPath(output) + QStringLiteral(": already exists; use -f to replace it"));
}

void refuseTerminal()
{
    if (::isatty(STDOUT_FILENO) == 1)
        throw CliError(QStringLiteral("protected data is not written to a terminal; redirect standard output or use -o FILE"));
}

namespace {

// Seals or opens between descriptors, for standard input or output: to standard output, or into
// `output`, written under a temporary name and renamed into place.
std::optional<QString> runStream(bool sealing, int inputFd, const std::optional<QString>& output, const QByteArray& key)
{
    const auto run = [&](int outputFd) {
        const Cancellation* cancel = &Interruption::cancellation();
        sealing ? LocalFileProtectionService::protectStream(inputFd, outputFd, key, cancel)
                : LocalFileProtectionService::openStream(inputFd, outputFd, key, cancel);
    };
    if (!output) {
        run(STDOUT_FILENO);
        return std::nullopt;
    }
    ReplacingOutputFile file(*output);
    if (!file.isOpen())
        throw LocalFileProtectionError::writeFailed(errno);
    run(file.fd());
    if (!file.commit())
        throw LocalFileProtectionError::writeFailed(errno);
    return output;
}

// The same for a file read from its path.
std::optional<QString> runStreamFrom(bool sealing, const QString& input, const std::optional<QString>& output,
                                     const QByteArray& key)
{
    const FileHandle file = openForReading(input);
    if (!file.isOpen())
        throw LocalFileProtectionError::unreadableFile();
    return runStream(sealing, file.fd(), output, key);
}

void describeStep(const char* verb, const Context& context, bool toStandardOutput)
{
    Console::detail(QStringLiteral("%1 %2 into %3").arg(QLatin1String(verb), context.input,
                                                       toStandardOutput ? QStringLiteral("standard output") : context.output));
}

Progress progressOn(ProgressBar& bar)
{
    return [&bar](qint64 done, qint64 total) { bar.update(done, total); };
}

// Removes the temporary bundle however the command ends.
class BundleCleanup {
public:
    explicit BundleCleanup(const PreparedInput& prepared) : m_prepared(prepared) {}
    ~BundleCleanup() { FilePreparationService::removeBundle(m_prepared); }

private:
    const PreparedInput& m_prepared;
};

// Removes a file written beside the output through its folder's descriptor, so that it goes
// even when someone moved the folder away meanwhile (its path then names nothing).
class SiblingCleanup {
public:
    explicit SiblingCleanup(const QByteArray& path)
        : m_name(path.mid(path.lastIndexOf('/') + 1))
        , m_folder(openParentFolder(path))
    {
    }
    ~SiblingCleanup()
    {
        if (m_folder.isOpen())
            ::unlinkat(m_folder.fd(), m_name.constData(), 0);
    }

private:
    QByteArray m_name;
    FileHandle m_folder;
};

void noteSkipped(const PreparedInput& prepared)
{
    if (prepared.skippedItems > 0)
        Console::note(prepared.skippedNote());
}

} // namespace

QString shownPath(const QString& absolutePath)
{
    const QString folder = currentFolder() + QLatin1Char('/');
    return absolutePath.startsWith(folder) && absolutePath.size() > folder.size() ? absolutePath.mid(folder.size())
                                                                                  : absolutePath;
}

std::optional<QString> lock(const CliOptions& options, const KeySource& key, Context& context)
{
    const bool fromStandardInput = options.paths.first() == standardStream;
    const bool toStandardOutput = options.output == standardStream || (fromStandardInput && !options.output);
    context.input = fromStandardInput ? QStringLiteral("standard input") : options.paths.first();
    if (!fromStandardInput)
        requireInputs(options.paths);
    if (toStandardOutput)
        refuseTerminal();
    const QStringList paths = fromStandardInput ? QStringList() : selectionPaths(options.paths);
    const bool singleFile = paths.size() == 1 && !paths.first().endsWith(QLatin1Char('/'));
    std::optional<QString> output;
    if (!toStandardOutput && (singleFile || fromStandardInput || (options.output && !isFolder(absolutePath(*options.output))))) {
        const QString name = singleFile ? OutputNames::protectedName(fileName(paths.first()), localMode) : QString();
        output = outputPath(options.output, name, context.input);
        context.output = shownPath(*output);
        refuseExisting(*output, options.force);
    }

    Console::detail(QStringLiteral("fetching the local protection key from the keychain"));
    const QByteArray keyData = key();
    if (fromStandardInput) {
        describeStep("locking", context, toStandardOutput);
        return runStream(true, STDIN_FILENO, output, keyData);
    }
    if (!singleFile)
        Console::detail(QStringLiteral("bundling %1 item(s) into a temporary zip archive").arg(paths.size()));
    const PreparedInput prepared = FilePreparationService::prepare(paths, QDir::tempPath(), &Interruption::cancellation());
    const BundleCleanup cleanup(prepared);
    noteSkipped(prepared);
    if (!singleFile)
        context.input = prepared.displayName;
    if (!toStandardOutput && !output) {
        output = outputPath(options.output, OutputNames::protectedName(prepared.displayName, localMode), context.input);
        context.output = shownPath(*output);
        refuseExisting(*output, options.force);
    }
    describeStep("locking", context, toStandardOutput);
    if (toStandardOutput)
        return runStreamFrom(true, prepared.url, std::nullopt, keyData);
    ProgressBar bar("Locking");
    LocalFileProtectionService::protect(prepared.url, *output, keyData, progressOn(bar), &Interruption::cancellation());
    return output;
}

std::optional<QString> open(const CliOptions& options, const KeySource& key, Context& context)
{
    const QString& argument = options.paths.first();
    const bool fromStandardInput = argument == standardStream;
    const bool toStandardOutput = options.output == standardStream || (fromStandardInput && !options.output);
    context.input = fromStandardInput ? QStringLiteral("standard input") : argument;
    if (!fromStandardInput)
        requireInputs({argument});
    const QString input = fromStandardInput ? QString() : absolutePath(argument);
    std::optional<QString> output;
    if (!toStandardOutput) {
        // Only a name the rules change gives an output name: anything else would name the input.
        const QString name = fromStandardInput ? QString() : OutputNames::openedName(fileName(input), localMode);
        output = outputPath(options.output, name == fileName(input) ? QString() : name, context.input);
        context.output = shownPath(*output);
        refuseExisting(*output, options.force);
    }

    Console::detail(QStringLiteral("fetching the local protection key from the keychain"));
    const QByteArray keyData = key();
    describeStep("opening", context, toStandardOutput);
    if (fromStandardInput)
        return runStream(false, STDIN_FILENO, output, keyData);
    if (toStandardOutput)
        return runStreamFrom(false, input, std::nullopt, keyData);
    ProgressBar bar("Opening");
    LocalFileProtectionService::open(input, *output, keyData, progressOn(bar), &Interruption::cancellation());
    return output;
}

QString bundle(const CliOptions& options, Context& context)
{
    requireInputs(options.paths);
    context.input = options.paths.first();
    const QString name = QStringLiteral("korvo-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
        + QStringLiteral(".zip");
    const QString output = outputPath(options.output, name, context.input);
    context.output = shownPath(output);
    refuseExisting(output, options.force);
    // Written beside the output and renamed into place: no second copy, and an earlier file
    // at the output stays as it was unless the whole archive was written.
    const QString temporary = temporarySiblingPath(output);
    if (temporary.isEmpty())
        throw FilePreparationError::zipFailed();
    const PreparedInput written{temporary, temporary, fileName(temporary)};
    const BundleCleanup cleanup(written);   // nothing is left there once it has been renamed
    const SiblingCleanup moved(NativePath::toNative(temporary));
    Console::detail(QStringLiteral("bundling %1 item(s) into %2").arg(options.paths.size()).arg(context.output));
    noteSkipped(PreparedInput{{}, {}, {},
                              FilePreparationService::writeBundle(selectionPaths(options.paths), temporary,
                                                                  &Interruption::cancellation())});
    Interruption::cancellation().throwIfRequested();
    const QByteArray native = NativePath::toNative(temporary);
    const FileHandle file(::open(native.constData(), O_RDONLY | O_CLOEXEC));
    if (!file.isOpen() || ::fdatasync(file.fd()) != 0 || !renameDurably(native, NativePath::toNative(output)))
        throw LocalFileProtectionError::writeFailed(errno);
    return output;
}

} // namespace CliCommands
