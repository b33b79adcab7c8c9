#include "cli/CliCommands.h"

#include "cli/Console.h"
#include "cli/Interruption.h"
#include "core/local/OutputNames.h"
#include "cli/ProgressBar.h"
#include "core/FilePreparationService.h"
#include "core/LocalFileProtectionService.h"
#include "core/local/Cancellation.h"
#include "core/local/FileIo.h"
#include "core/local/NativePath.h"

#include <QDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

namespace CliCommands {
namespace {

constexpr bool localMode = true;   // the command line works in local mode only

const char* const alreadyExistsText = "\"%1\" already exists.";
const char* const noOutputNameText = "No output name follows from \"%1\"; give one with -o.";

bool isFolder(const QString& path)
{
    struct stat info {};
    return ::stat(NativePath::toNative(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

QString fileName(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// An absolute, clean path, worked out on the text alone so that names whose bytes are not UTF-8
// keep them (see NativePath).
QString absolutePath(const QString& path)
{
    if (path.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(path);
    QByteArray folder(4096, '\0');
    while (::getcwd(folder.data(), static_cast<std::size_t>(folder.size())) == nullptr && errno == ERANGE)
        folder.resize(folder.size() * 2);
    return QDir::cleanPath(NativePath::fromNative(folder.constData()) + QLatin1Char('/') + path);
}

// A folder gets its trailing "/" so the rest of the code can tell it apart.
QString selectionPath(const QString& argument)
{
    QString path = absolutePath(argument);
    if (isFolder(path) && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QStringList selectionPaths(const QStringList& arguments)
{
    QStringList paths;
    for (const QString& argument : arguments)
        paths.append(selectionPath(argument));
    return paths;
}

// "notes.txt: No such file": the path as the user gave it, and the reason.
[[noreturn]] void failOn(const QString& argument, int errorNumber)
{
    const QString reason = errorNumber == ENOENT ? QStringLiteral("No such file")
                                                 : QString::fromLocal8Bit(std::strerror(errorNumber));
    throw CliError(argument + QStringLiteral(": ") + reason);
}

// Every input must be there before anything else happens (the keychain key is made on first use).
void requireInputs(const QStringList& arguments)
{
    for (const QString& argument : arguments) {
        struct stat info {};
        if (::stat(NativePath::toNative(argument).constData(), &info) != 0)
            failOn(argument, errno);
    }
}

void refuseExisting(const QString& output, bool force)
{
    struct stat info {};
    if (!force && ::lstat(NativePath::toNative(output).constData(), &info) == 0)
        throw CliError(QString::fromUtf8(alreadyExistsText).arg(QDir::toNativeSeparators(output)));
}

LocalFileProtectionService::Progress progressOn(ProgressBar& bar)
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

} // namespace

QString lock(const CliOptions& options, const KeySource& key)
{
    requireInputs(options.paths);
    const QStringList paths = selectionPaths(options.paths);
    const bool singleFile = paths.size() == 1 && !paths.first().endsWith(QLatin1Char('/'));
    std::optional<QString> output;
    if (options.output)
        output = absolutePath(*options.output);
    else if (singleFile)
        output = QDir::current().absoluteFilePath(
            OutputNames::protectedName(fileName(paths.first()), localMode));
    if (output)
        refuseExisting(*output, options.force);

    const QByteArray keyData = key();
    const PreparedInput prepared = FilePreparationService::prepare(paths, QDir::tempPath(), &Interruption::cancellation());
    BundleCleanup cleanup(prepared);
    if (prepared.skippedItems > 0)
        Console::note(prepared.skippedNote());
    if (!output) {
        output = QDir::current().absoluteFilePath(OutputNames::protectedName(prepared.displayName, localMode));
        refuseExisting(*output, options.force);
    }
    ProgressBar bar("Locking");
    LocalFileProtectionService::protect(prepared.url, *output, keyData, progressOn(bar), &Interruption::cancellation());
    return *output;
}

QString open(const CliOptions& options, const KeySource& key)
{
    requireInputs(options.paths);
    const QString input = absolutePath(options.paths.first());
    QString output;
    if (options.output) {
        output = absolutePath(*options.output);
    } else {
        const QString name = OutputNames::openedName(fileName(input), localMode);
        if (name.isEmpty())
            throw CliError(QString::fromUtf8(noOutputNameText).arg(options.paths.first()));
        output = QDir::current().absoluteFilePath(name);
    }
    refuseExisting(output, options.force);

    const QByteArray keyData = key();
    ProgressBar bar("Opening");
    LocalFileProtectionService::open(input, output, keyData, progressOn(bar), &Interruption::cancellation());
    return output;
}

QString bundle(const CliOptions& options)
{
    const QString output = absolutePath(*options.output);
    refuseExisting(output, options.force);
    // Written beside the output and renamed into place: no second copy, and an earlier file
    // at the output stays as it was unless the whole archive was written.
    const QString temporary = temporarySiblingPath(output);
    if (temporary.isEmpty())
        throw FilePreparationError::zipFailed();
    const PreparedInput written{temporary, temporary, fileName(temporary)};
    BundleCleanup cleanup(written);   // nothing is left there once it has been renamed
    const int skipped =
        FilePreparationService::writeBundle(selectionPaths(options.paths), temporary, &Interruption::cancellation());
    if (skipped > 0)
        Console::note(PreparedInput{{}, {}, {}, skipped}.skippedNote());
    Interruption::cancellation().throwIfRequested();
    const QByteArray native = NativePath::toNative(temporary);
    const FileHandle file(::open(native.constData(), O_RDONLY | O_CLOEXEC));
    if (!file.isOpen() || ::fdatasync(file.fd()) != 0 || !renameDurably(native, NativePath::toNative(output)))
        throw FilePreparationError::zipFailed();
    return output;
}

} // namespace CliCommands
