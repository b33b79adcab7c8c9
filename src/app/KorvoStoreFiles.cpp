// The file workflow as the window shows it: choosing input, asking where to save, and the
// job's stages (FileJob) with their progress, then the line and the history.
#include "KorvoStore.h"
#include "core/PlatformWording.h"

#include "core/flows/FileJob.h"
#include "core/Cancellation.h"
#include "core/NativePath.h"
#include "core/OutputNames.h"

#include <QCoro/QCoroSignal>

#include <sys/stat.h>

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

// A folder's path gets its trailing "/" (asked of the disk with the name's own bytes).
QString withFolderMark(const QString& path)
{
    struct stat status {};
    if (!path.endsWith(QLatin1Char('/')) && ::stat(NativePath::toNative(path).constData(), &status) == 0
        && S_ISDIR(status.st_mode))
        return path + QLatin1Char('/');
    return path;
}

} // namespace

void KorvoStore::setSavePanelHeld(bool held)
{
    if (held == m_savePanelHeld)
        return;
    m_savePanelHeld = held;
    emit savePanelHeldChanged();
}

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
        if (url.isLocalFile())
            paths.append(withFolderMark(NativePath::fromUrl(url)));   // the name's bytes kept
    }
    setSelectedURLs(paths);
}

void KorvoStore::selectLaunchFiles(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    QStringList marked;
    bool allProtected = true;
    for (const QString& path : paths) {
        marked.append(withFolderMark(path));
        allProtected = allProtected && !marked.last().endsWith(QLatin1Char('/'))
            && (path.endsWith(QLatin1String(".korvolocal")) || path.endsWith(QLatin1String(".korvo")));
    }
    setMode(allProtected ? WorkMode::Decrypt : WorkMode::Encrypt);
    setSelectedURLs(marked);
}

QString KorvoStore::defaultOutputName(const QString& path, WorkMode mode) const
{
    const QString name = FileJob::lastPathComponent(path);
    const bool localMode = m_accessMode == AppAccessMode::Local;
    return mode == WorkMode::Encrypt ? OutputNames::protectedName(name, localMode)
                                     : OutputNames::openedName(name, localMode);
}

QString KorvoStore::askForOutputURL(const QString& input, WorkMode mode)
{
    const QString title = mode == WorkMode::Encrypt ? saveLockedTitle : saveOpenedTitle;
    // The panel starts beside what the user chose (a bundle lives in a temporary folder).
    const QString first = m_selectedURLs.value(0, input);
    const QString startFolder = first.left(first.lastIndexOf(QLatin1Char('/'), first.endsWith(QLatin1Char('/')) ? -2 : -1));
    const auto chosen = m_deps.dialogs->chooseSaveLocation(title, defaultOutputName(input, mode), startFolder);
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

QCoro::QmlTask KorvoStore::runFileOperation()
{
    return runFileOperationTask();
}

QCoro::Task<bool> KorvoStore::runFileOperationTask()
{
    const QString busy = m_mode == WorkMode::Encrypt ? lockingBusy : openingBusy;
    QCoro::Task<bool> running = perform(busy, [this]() -> QCoro::Task<> { return runFileOperationSteps(); }, true);
    co_return co_await running;
}

QCoro::Task<> KorvoStore::runFileOperationSteps()
{
    // The selection and the mode as they were when the user started; the window stays live
    // while bundling runs.
    const QStringList urls = m_selectedURLs;
    const WorkMode mode = m_mode;
    const FileJob::Direction direction = mode == WorkMode::Encrypt ? FileJob::Direction::lock : FileJob::Direction::open;
    const bool localMode = m_accessMode == AppAccessMode::Local;
    const std::shared_ptr<Cancellation> cancel = m_progress.begin();
    const OperationProgressScope progressScope{m_progress};
    FileJob job(m_deps.temporaryDirectory, m_fileQueue, cancel);

    m_progress.setStage(job.figures());
    QCoro::Task<PreparedInput> preparing = job.prepare(urls);
    const PreparedInput prepared = co_await preparing;
    m_progress.setStage({});

    // The local key is read once, on the keychain's queue, and before the save panel: a keyring
    // that cannot give it is said before the user picks a place. Opening never makes one.
    QByteArray key;
    if (localMode) {
        QCoro::Task<QByteArray> keying = localKey(mode);
        key = co_await keying;
    }
    // Not while the window asks whether to quit: the panel would stack on the question.
    while (m_savePanelHeld) {
        auto released = qCoro(this, &KorvoStore::savePanelHeldChanged);
        co_await released;
    }
    cancel->throwIfRequested();
    const QString output = askForOutputURL(prepared.url, mode);
    cancel->throwIfRequested();

    const QString note = prepared.skippedNote();
    const QString savedTo = savedToPrefix + NativePath::displayText(output) + (note.isEmpty() ? QString() : QLatin1Char(' ') + note);
    if (localMode) {
        m_progress.setStage(job.figures());
        QCoro::Task<> sealing = job.runLocal(prepared, output, direction, key);
        co_await sealing;
        rememberActivity(ActivityItem::make(mode == WorkMode::Encrypt ? lockedOnThisMac : openedOnThisMac,
                                            NativePath::displayText(prepared.displayName) + arrow
                                                + NativePath::displayText(FileJob::lastPathComponent(output))));
        setSelectedURLs({});
        setStatusMessage(savedTo);
        co_return;
    }

    if (!m_identity)
        throw StoreError::message(signInFirst);
    const qint64 secretId = operationSecretId();
    // The bridge reports its figures; Cancel ends this job's child (no other run's), which
    // removes its unfinished output.
    m_progress.setStage(job.figures(), job.stopper());
    QCoro::Task<FileJobResult> running = job.runAccount(services(), *m_identity, prepared, output, direction, secretId);
    const FileJobResult result = co_await running;

    const QString savedName = result.resultFileName.value_or(FileJob::lastPathComponent(output));
    rememberActivity(ActivityItem::make(mode == WorkMode::Encrypt ? lockedTitle : openedTitle,
                                        NativePath::displayText(prepared.displayName) + arrow
                                            + NativePath::displayText(savedName) + recipientActivitySuffix(secretId)));
    setSelectedURLs({});
    setStatusMessage(savedTo);
    scheduleDataConsumptionRefresh();
}
