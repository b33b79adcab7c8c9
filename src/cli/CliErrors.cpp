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

QString describeInvalid(const LocalFileProtectionError& error, const Context& context)
{
    switch (error.found()) {
    case LocalFileProtectionError::Found::otherFile:
        return context.input + QStringLiteral(": not a Korvo file");
    case LocalFileProtectionError::Found::accountFile:
        return context.input + QStringLiteral(": locked for a Korvo account; open it in Korvo, signed in to that account");
    case LocalFileProtectionError::Found::protectedFile:
        break;
    }
    return context.input + QStringLiteral(": not locked with this keyring's key, or changed since");
}

QString describe(const LocalFileProtectionError& error, const Context& context)
{
    using Kind = LocalFileProtectionError::Kind;
    switch (error.kind()) {
    case Kind::invalidFile:
        return describeInvalid(error, context);
    case Kind::unreadableFile:
        return context.input + QStringLiteral(": cannot be read (not a regular file, or no permission)");
    case Kind::noKey:
        return QStringLiteral("this keyring holds no Korvo key, so files locked on another computer or by another "
                              "user cannot be opened here");
    case Kind::writeFailed:
        break;
    }
    if (error.errorNumber() == EEXIST && !context.toStandardOutput)   // put there while this one was written
        return context.output + QStringLiteral(": already exists; use -f to replace it");
    return withReason(context.output + QStringLiteral(": cannot be saved"), error.errorNumber());
}

// An archive that cannot be written is named by what the person chose: the output, or the
// temporary folder for a bundle made there on the way.
QString writtenPlace(const QString& path, const Context& context)
{
    const QString shown = shownPath(path);
    const QString temporaryFolder = QDir::tempPath() + QLatin1Char('/');
    return shown != context.output && path.startsWith(temporaryFolder) ? shownPath(QDir::tempPath()) : shown;
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

bool readerWentAway(const std::exception& error, const Context& context)
{
    const auto* local = dynamic_cast<const LocalFileProtectionError*>(&error);
    return context.toStandardOutput && local && local->kind() == LocalFileProtectionError::Kind::writeFailed
        && local->errorNumber() == EPIPE;
}

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
