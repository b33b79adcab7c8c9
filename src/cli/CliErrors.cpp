// How korvo-cli words failures: the file concerned and the reason, as Unix tools do. The
// application keeps the engine's own sentences; only this tool rewords them.

#include "cli/CliCommands.h"

#include "core/FilePreparationService.h"
#include "core/KeychainStore.h"
#include "core/LocalFileProtectionService.h"
#include "core/NativePath.h"
#include "zip/ArchiveError.h"

#include <QDir>

#include <cerrno>
#include <cstring>

namespace CliCommands {
namespace {

QString reason(int errorNumber)
{
    return errorNumber == ENOENT ? QStringLiteral("No such file") : QString::fromLocal8Bit(std::strerror(errorNumber));
}

QString withReason(const QString& text, int errorNumber)
{
    return errorNumber == 0 ? text : text + QStringLiteral(": ") + reason(errorNumber);
}

QString describe(const LocalFileProtectionError& error, const Context& context)
{
    switch (error.kind()) {
    case LocalFileProtectionError::Kind::invalidFile:
        return context.input + QStringLiteral(": not protected with this computer's key, or changed since");
    case LocalFileProtectionError::Kind::unreadableFile:
        return context.input + QStringLiteral(": cannot be read (not a regular file, or no permission)");
    case LocalFileProtectionError::Kind::writeFailed:
        break;
    }
    return withReason(context.output + QStringLiteral(": cannot be saved"), error.errorNumber());
}

// A scratch file that cannot be written is named by what the person chose: the output it was
// to become (written beside it under a hidden name), or the temporary folder of a bundle.
QString writtenPlace(const QString& path, const Context& context)
{
    const QString temporaryFolder = QDir::tempPath() + QLatin1Char('/');
    if (path.endsWith(QLatin1String(".partial")) && !context.output.isEmpty())
        return context.output;
    return shownPath(path.startsWith(temporaryFolder) ? QDir::tempPath() : path);
}

QString describe(const zip::ArchiveError& error, const Context& context)
{
    using Kind = zip::ArchiveError::Kind;
    const QString path = NativePath::fromNative(QByteArray::fromStdString(error.path()));
    const QString file = shownPath(path);
    switch (error.kind()) {
    case Kind::fileNotFound: return file + QStringLiteral(": No such file");
    case Kind::fileReadPermission: return file + QStringLiteral(": Permission denied");
    case Kind::unreadableFile: return withReason(file + QStringLiteral(": cannot be read"), error.errorNumber());
    case Kind::unwritableFile:
    case Kind::unwritableArchive:
        return withReason(writtenPlace(path, context) + QStringLiteral(": cannot be written"), error.errorNumber());
    default: return QString::fromUtf8(error.what());
    }
}

QString describe(const KeychainStoreError& error)
{
    // The message already says what is wrong with the keyring and what to do.
    return QStringLiteral("keychain: ") + error.message();
}

} // namespace

QString describeFailure(const std::exception& error, const Context& context)
{
    if (const auto* local = dynamic_cast<const LocalFileProtectionError*>(&error))
        return describe(*local, context);
    if (const auto* archive = dynamic_cast<const zip::ArchiveError*>(&error))
        return describe(*archive, context);
    if (const auto* keychain = dynamic_cast<const KeychainStoreError*>(&error))
        return describe(*keychain);
    if (const auto* korvo = dynamic_cast<const KorvoError*>(&error))
        return korvo->message();
    return QString::fromUtf8(error.what());
}

} // namespace CliCommands
