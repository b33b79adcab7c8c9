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
#include "zip/ArchiveError.h"

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

// Whether korvo-cli picks the output's name: no -o, or -o naming a folder.
bool nameChosen(const CliOptions& options)
{
    return !options.output || isFolder(absolutePath(*options.output));
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

std::optional<Saved> saved(const std::optional<QString>& output, const CliOptions& options)
{
    if (!output)
        return std::nullopt;
    return Saved{*output, nameChosen(options)};
}

namespace {

// A pipe given by name (a FIFO, or "<(command)"): read as a stream, like standard input.
bool isPipe(const QString& path)
{
    struct stat info {};
    return ::stat(NativePath::toNative(path).constData(), &info) == 0 && S_ISFIFO(info.st_mode);
}

FileHandle openPipe(const QString& path)
{
    FileHandle pipe(::open(NativePath::toNative(path).constData(), O_RDONLY | O_CLOEXEC));   // waits for a writer
    if (!pipe.isOpen())
        throw LocalFileProtectionError::unreadableFile();
    return pipe;
}

// The name of the bundle made of a selection: a folder alone is bundled under its own name,
// anything else under a new "korvo-<UUID>.zip".
QString bundleName(const QStringList& paths)
{
    const QString folder = fileName(QDir::cleanPath(paths.first()));
    if (paths.size() == 1 && paths.first().endsWith(QLatin1Char('/')) && !folder.isEmpty())
        return folder + QStringLiteral(".zip");
    return QStringLiteral("korvo-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".zip");
}

// Seals or opens between descriptors, for pipes: to standard output, or into `output`, which
// is written without a name and given it only when complete.
void runStream(bool sealing, int inputFd, const std::optional<QString>& output, bool force, const QByteArray& key)
{
    const auto run = [&](int outputFd) {
        const Cancellation* cancel = &Interruption::cancellation();
        sealing ? LocalFileProtectionService::protectStream(inputFd, outputFd, key, cancel)
                : LocalFileProtectionService::openStream(inputFd, outputFd, key, cancel);
    };
    if (!output) {
        run(STDOUT_FILENO);
        return;
    }
    ReplacingOutputFile file(*output, force);
    if (!file.isOpen())
        throw LocalFileProtectionError::writeFailed(errno);
    run(file.fd());
    if (!file.commit())
        throw LocalFileProtectionError::writeFailed(errno);
}

// The same for a file read from its path.
void runStreamFrom(bool sealing, const QString& input, const std::optional<QString>& output, bool force,
                   const QByteArray& key)
{
    const FileHandle file = openForReading(input);
    if (!file.isOpen())
        throw LocalFileProtectionError::unreadableFile();
    runStream(sealing, file.fd(), output, force, key);
}

void describeStep(const char* verb, const Context& context)
{
    Console::detail(QStringLiteral("%1 %2 into %3").arg(QLatin1String(verb), context.input, context.output));
}

Progress progressOn(ProgressBar& bar)
{
    return [&bar](qint64 done, qint64 total) { bar.update(done, total); };
}

void noteLeftOut(const LeftOut& leftOut)
{
    const QString note = leftOut.note();
    if (!note.isEmpty())
        Console::note(note);
}

// Where the result goes: standard output, or a file, named in the context either way.
void setOutput(Context& context, const std::optional<QString>& output)
{
    context.toStandardOutput = !output;
    context.output = output ? shownPath(*output) : QStringLiteral("standard output");
}

// A file that is not of this format is said as such before the keyring is asked for a key.
void checkProtectedFile(const QString& input)
{
    const FileHandle file = openForReading(input);
    if (!file.isOpen())
        return;   // the engine says why
    QByteArray first(16, '\0');
    const auto length = readFully(file.fd(), reinterpret_cast<std::uint8_t*>(first.data()), 16);
    if (length)
        LocalFileProtectionService::checkHeader(first.left(static_cast<qsizetype>(*length)));
}

// Seals or opens one input into `output`, or onto standard output when there is none: a pipe
// (`input` empty: standard input) record by record, a file through the engine with a progress bar.
std::optional<Saved> runOne(bool sealing, const QString& input, bool fromPipe, const std::optional<QString>& output,
                            const CliOptions& options, const QByteArray& key)
{
    if (fromPipe) {
        const FileHandle pipe = input.isEmpty() ? FileHandle() : openPipe(input);
        runStream(sealing, input.isEmpty() ? STDIN_FILENO : pipe.fd(), output, options.force, key);
        return saved(output, options);
    }
    if (!output) {
        runStreamFrom(sealing, input, std::nullopt, false, key);
        return std::nullopt;
    }
    ProgressBar bar(sealing ? "Locking" : "Opening");
    const auto run = sealing ? LocalFileProtectionService::protect : LocalFileProtectionService::open;
    run(input, *output, key, progressOn(bar), &Interruption::cancellation(), options.force);
    return saved(output, options);
}

} // namespace

QString shownPath(const QString& absolutePath)
{
    const QString folder = currentFolder() + QLatin1Char('/');
    return absolutePath.startsWith(folder) && absolutePath.size() > folder.size() ? absolutePath.mid(folder.size())
                                                                                  : absolutePath;
}

LockEnds lockEnds(const CliOptions& options, Context& context)
{
    const bool fromStandardInput = options.paths.first() == standardStream;
    const bool toStandardOutput = options.output == standardStream || (fromStandardInput && !options.output);
    context.input = fromStandardInput ? QStringLiteral("standard input") : options.paths.first();
    if (!fromStandardInput)
        requireInputs(options.paths);
    if (toStandardOutput)
        refuseTerminal();
    return {fromStandardInput, toStandardOutput};
}

std::optional<Saved> lock(const CliOptions& options, const KeySource& key, Context& context)
{
    const LockEnds ends = lockEnds(options, context);
    const bool fromStandardInput = ends.fromStandardInput, toStandardOutput = ends.toStandardOutput;
    const QStringList paths = fromStandardInput ? QStringList() : selectionPaths(options.paths);
    const bool singleFile = !FilePreparationService::bundles(paths);
    const QString bundle = fromStandardInput || singleFile ? QString() : bundleName(paths);
    std::optional<QString> output;
    if (!toStandardOutput) {
        const QString name = fromStandardInput ? QString()
            : OutputNames::protectedName(singleFile ? fileName(paths.first()) : bundle, localMode);
        output = outputPath(options.output, name, context.input);
        refuseExisting(*output, options.force);
    }
    setOutput(context, output);

    Console::detail(QStringLiteral("fetching the local protection key from the keychain"));
    const QByteArray keyData = key();
    if (fromStandardInput || singleFile) {
        describeStep("locking", context);
        const QString input = fromStandardInput ? QString() : paths.first();
        return runOne(true, input, fromStandardInput || isPipe(input), output, options, keyData);
    }

    // The bundle is written in the temporary folder without a name, read back and never kept.
    Console::detail(QStringLiteral("bundling %1 item(s) into a temporary zip archive").arg(paths.size()));
    const QString scratchPath = QDir(QDir::tempPath()).filePath(bundle);
    const ReplacingOutputFile scratch(scratchPath);
    if (!scratch.isOpen())
        throw zip::ArchiveError(zip::ArchiveError::Kind::unwritableArchive, NativePath::toNative(scratchPath).toStdString(),
                                errno);
    noteLeftOut(FilePreparationService::writeBundleTo(scratch.fd(), scratchPath, paths,
                                                      output ? QStringList{*output} : QStringList(),
                                                      &Interruption::cancellation()));
    context.input = bundle;
    describeStep("locking", context);
    return runOne(true, scratch.readablePath(), false, output, options, keyData);
}

std::optional<Saved> open(const CliOptions& options, const KeySource& key, Context& context)
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
        refuseExisting(*output, options.force);
    }
    setOutput(context, output);
    const bool fromPipe = fromStandardInput || isPipe(input);
    if (!fromPipe)
        checkProtectedFile(input);

    Console::detail(QStringLiteral("fetching the local protection key from the keychain"));
    const QByteArray keyData = key();
    describeStep("opening", context);
    return runOne(false, input, fromPipe, output, options, keyData);
}

Saved bundle(const CliOptions& options, Context& context)
{
    requireInputs(options.paths);
    context.input = options.paths.first();
    const QStringList paths = selectionPaths(options.paths);
    const QString output = outputPath(options.output, bundleName(paths), context.input);
    setOutput(context, output);
    refuseExisting(output, options.force);
    // Written beside the output without a name, and given it only once complete: no second copy,
    // and an earlier file at the output stays as it was unless the whole archive was written.
    ReplacingOutputFile file(output, options.force);
    if (!file.isOpen())
        throw LocalFileProtectionError::writeFailed(errno);
    Console::detail(QStringLiteral("bundling %1 item(s) into %2").arg(options.paths.size()).arg(context.output));
    // Neither the earlier archive nor the new one goes into the new one (a bundle of ".").
    noteLeftOut(FilePreparationService::writeBundleTo(file.fd(), output, paths, {output, file.readablePath()},
                                                      &Interruption::cancellation()));
    Interruption::cancellation().throwIfRequested();
    if (!file.commit())
        throw LocalFileProtectionError::writeFailed(errno);
    return Saved{output, nameChosen(options)};
}

} // namespace CliCommands
