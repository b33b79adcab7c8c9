// The file workflow: choosing input, bundling, asking where to save, sealing or opening, recording.
#include "KorvoStore.h"
#include "core/PlatformWording.h"

#include "BackgroundTask.h"
#include "core/FilePreparationService.h"
#include "core/LocalFileProtectionService.h"
#include "core/local/OutputNames.h"

#include <QFile>
#include <QFileInfo>

namespace {
const QString lockingBusy = QStringLiteral("Locking file...");
const QString openingBusy = QStringLiteral("Opening file...");
const QString saveLockedTitle = QStringLiteral("Save locked file");
const QString saveOpenedTitle = QStringLiteral("Save opened file");
const QString saveCancelled = QStringLiteral("Save was cancelled.");
const QString signInFirst = QStringLiteral("Sign in first.");
const QString chooseKorvoFirst = QStringLiteral("Choose or create a Korvo first.");
const QString enterRecipientNumber = QStringLiteral("Enter the other person's Korvo number.");
const QString lockedTitle = QStringLiteral("Locked");
const QString openedTitle = QStringLiteral("Opened");
const QString lockedOnThisMac = platformText(QStringLiteral("Locked on this Mac"));
const QString openedOnThisMac = platformText(QStringLiteral("Opened on this Mac"));
const QString savedToPrefix = QStringLiteral("Saved to ");
const QString arrow = QStringLiteral(" -> ");

// The last path component of a file path (a folder's trailing "/" ignored).
QString lastPathComponent(const QString& path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    return trimmed.section(QLatin1Char('/'), -1);
}

// Removes the temporary bundle on every way out of the workflow.
struct CleanupGuard {
    std::optional<QString> path;
    ~CleanupGuard()
    {
        if (path)
            QFile::remove(*path);
    }
};
} // namespace

void KorvoStore::chooseFiles()
{
    const bool encrypting = m_mode == WorkMode::Encrypt;
    FileDialogs::OpenRequest request;
    request.canChooseDirectories = encrypting;
    request.allowsMultipleSelection = encrypting;
    request.protectedFilesOnly = !encrypting;
    if (const auto chosen = m_deps.dialogs->chooseFiles(request))
        setSelectedURLs(*chosen);
}

void KorvoStore::loadFileURLs(const QList<QUrl>& urls)
{
    QStringList paths;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        QString path = url.toLocalFile();
        if (QFileInfo(path).isDir() && !path.endsWith(QLatin1Char('/')))
            path += QLatin1Char('/');
        paths.append(path);
    }
    setSelectedURLs(paths);
}

QString KorvoStore::defaultOutputName(const QString& path, WorkMode mode) const
{
    const QString name = lastPathComponent(path);
    const bool localMode = m_accessMode == AppAccessMode::Local;
    return mode == WorkMode::Encrypt ? OutputNames::protectedName(name, localMode)
                                     : OutputNames::openedName(name, localMode);
}

QString KorvoStore::askForOutputURL(const QString& input, WorkMode mode)
{
    const QString title = mode == WorkMode::Encrypt ? saveLockedTitle : saveOpenedTitle;
    const auto chosen = m_deps.dialogs->chooseSaveLocation(title, defaultOutputName(input, mode));
    if (!chosen || chosen->isEmpty())
        throw StoreError::message(saveCancelled);
    return *chosen;
}

qint64 KorvoStore::operationSecretId() const
{
    if (m_mode == WorkMode::Encrypt && m_encryptionTarget == EncryptionTarget::Recipient) {
        const auto recipient = recipientSecretId();
        if (!recipient)
            throw StoreError::message(enterRecipientNumber);
        return *recipient;
    }
    if (!m_selectedSecretId)
        throw StoreError::message(chooseKorvoFirst);
    return *m_selectedSecretId;
}

QString KorvoStore::recipientActivitySuffix(qint64 secretId) const
{
    if (m_mode == WorkMode::Encrypt && m_encryptionTarget == EncryptionTarget::Recipient)
        return QStringLiteral(" for Korvo #") + QString::number(secretId);
    return {};
}

QCoro::Task<> KorvoStore::runLocalFileOperation(QString inputURL, QString output, WorkMode mode)
{
    // The key comes first, as before, but off the window's thread: a keychain that is slow to
    // answer (it may take up to its deadline) must not freeze the window.
    const KeychainStore keychain = m_keychain;
    const bool encrypting = mode == WorkMode::Encrypt;
    QCoro::Task<> sealing = runInBackground([keychain, inputURL, output, encrypting] {
        const QByteArray key = keychain.loadOrCreateLocalProtectionKey();
        if (encrypting)
            LocalFileProtectionService::protect(inputURL, output, key);
        else
            LocalFileProtectionService::open(inputURL, output, key);
    });
    co_await sealing;
}

QCoro::QmlTask KorvoStore::runFileOperation()
{
    return runFileOperationTask();
}

QCoro::Task<bool> KorvoStore::runFileOperationTask()
{
    const QString busy = m_mode == WorkMode::Encrypt ? lockingBusy : openingBusy;
    QCoro::Task<bool> running = perform(busy, [this]() -> QCoro::Task<> { return runFileOperationSteps(); });
    co_return co_await running;
}

QCoro::Task<> KorvoStore::runFileOperationSteps()
{
    // The selection and the mode as they were when the user started; the window stays live
    // while bundling runs.
    const QStringList urls = m_selectedURLs;
    const WorkMode mode = m_mode;
    const QString temporaryDirectory = m_deps.temporaryDirectory;
    QCoro::Task<PreparedInput> preparing = runInBackground([urls, temporaryDirectory] {
        return FilePreparationService::prepare(urls, temporaryDirectory);
    });
    const PreparedInput prepared = co_await preparing;
    CleanupGuard cleanup{prepared.cleanupURL};

    const QString output = askForOutputURL(prepared.url, mode);

    if (m_accessMode == AppAccessMode::Local) {
        QCoro::Task<> sealing = runLocalFileOperation(prepared.url, output, mode);
        co_await sealing;
        rememberActivity(ActivityItem::make(mode == WorkMode::Encrypt ? lockedOnThisMac : openedOnThisMac,
                                            prepared.displayName + arrow + lastPathComponent(output)));
        setSelectedURLs({});
        setStatusMessage(savedToPrefix + output);
        co_return;
    }

    if (!m_identity)
        throw StoreError::message(signInFirst);
    const qint64 secretId = operationSecretId();
    QCoro::Task<> running = runAccountFileOperation(prepared, output, mode, secretId);
    co_await running;
}

QCoro::Task<> KorvoStore::runAccountFileOperation(PreparedInput prepared, QString output, WorkMode mode, qint64 secretId)
{
    BridgeRequest request;
    request.command = mode == WorkMode::Encrypt ? QStringLiteral("encryptFile") : QStringLiteral("decryptFile");
    request.blackboxUrl = m_deps.bridge->blackboxUrl();
    request.principalId = m_identity->principalId;
    request.ed25519PrivateKeyHex = m_identity->ed25519PrivateKeyHex;
    request.secretId = secretId;
    request.filePath = prepared.url;
    request.outputPath = output;
    const std::shared_ptr<BridgeRunner> bridge = m_deps.bridge;
    QCoro::Task<FileJobResult> running = bridge->run<FileJobResult>(request);
    const FileJobResult result = co_await running;

    const QString savedName = result.resultFileName.value_or(lastPathComponent(output));
    rememberActivity(ActivityItem::make(mode == WorkMode::Encrypt ? lockedTitle : openedTitle,
                                        prepared.displayName + arrow + savedName + recipientActivitySuffix(secretId)));
    setSelectedURLs({});
    setStatusMessage(savedToPrefix + output);
    scheduleDataConsumptionRefresh();
}
