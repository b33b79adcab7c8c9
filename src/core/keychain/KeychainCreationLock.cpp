#include "core/keychain/KeychainCreationLock.h"

#include <QDir>
#include <QStandardPaths>

namespace {

const char* const lockFileName = "korvo-keychain.lock";
constexpr int lockTimeoutMs = 10000;
// A creation takes well under a second; a lock older than this was left by a crashed process.
constexpr int staleLockMs = 30000;

std::mutex& processMutex()
{
    static std::mutex mutex;
    return mutex;
}

// The user's runtime folder, else the user's own cache folder: never a fixed name in the shared
// temporary folder, where another user's file would block every creation.
QString lockFilePath()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Korvo");
        QDir().mkpath(folder);
    }
    return QDir(folder).filePath(QString::fromLatin1(lockFileName));
}

} // namespace

KeychainCreationLock::KeychainCreationLock()
    : m_threadLock(processMutex())
    , m_fileLock(std::make_unique<QLockFile>(lockFilePath()))
{
    m_fileLock->setStaleLockTime(staleLockMs);
    m_locked = m_fileLock->tryLock(lockTimeoutMs);
}

KeychainCreationLock::~KeychainCreationLock()
{
    if (m_locked)
        m_fileLock->unlock();
}
