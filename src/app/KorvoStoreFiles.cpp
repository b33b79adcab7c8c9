// The file workflow: choosing input, bundling, asking where to save, sealing or opening, recording.
#include "KorvoStore.h"
#include "core/PlatformWording.h"

#include "BackgroundTask.h"
#include "FileWorkQueue.h"
#include "core/FilePreparationService.h"
#include "core/LocalFileProtectionService.h"
#include "core/local/Cancellation.h"
#include "core/local/NativePath.h"
#include "core/local/OutputNames.h"

#include <QCoro/QCoroSignal>
#include <QDir>
#include <QUuid>

#include <filesystem>
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

// The last path component of a file path (a folder's trailing "/" ignored).
QString lastPathComponent(const QString& path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    return trimmed.section(QLatin1Char('/'), -1);
}

// A folder's path gets its trailing "/" (asked of the disk with the name's own bytes).
QString withFolderMark(const QString& path)
{
    struct stat status {};
    if (!path.endsWith(QLatin1Char('/')) && ::stat(NativePath::toNative(path).constData(), &status) == 0
        && S_ISDIR(status.st_mode))
        return path + QLatin1Char('/');
    return path;
}

// Bytes of the regular files in a selection (links not followed): the size a bundle of it
// reaches, short of the archive's own headers.
qint64 selectionSize(const QStringList& urls, const Cancellation& cancel)
{
    namespace fs = std::filesystem;
    qint64 total = 0;
    std::error_code error;
    for (const QString& url : urls) {
        const fs::path root(NativePath::toNative(url).toStdString());
        const fs::file_status status = fs::symlink_status(root, error);
        if (fs::is_regular_file(status))
            total += qint64(fs::file_size(root, error));
        if (!fs::is_directory(status))
            continue;
        for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
             !error && it != end && !cancel.requested(); it.increment(error)) {
            if (it->is_regular_file(error) && !it->is_symlink(error))
                total += qint64(it->file_size(error));
        }
    }
    return total;
}

// A folder of one job's own for its bundle, so the bundle's growth can be watched by name-free
// listing; removed with whatever is in it on every way out.
struct BundleFolder {
    QString path;

    explicit BundleFolder(const QString& temporaryDirectory)
        : path(QDir(temporaryDirectory)
                   .filePath(QStringLiteral("korvo-job-") + QUuid::createUuid().toString(QUuid::WithoutBraces)))
    {
        QDir().mkpath(path);
    }
    // The names go at once; the blocks of a large bundle are given back on a thread of their own
    // (this runs on the window's thread, and the kernel may first wait for writes in flight).
    ~BundleFolder()
    {
        const QDir folder(path);
        for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            const QByteArray file = NativePath::toNative(folder.filePath(name));
            ScratchFiles::removeSoon(file, ScratchFiles::holdOpen(file));
        }
        QDir(path).removeRecursively();
    }
    // The size of the bundle being written.
    qint64 bundleSize() const
    {
        struct stat status {};
        const QStringList names = QDir(path).entryList(QDir::Files | QDir::Hidden);
        if (names.isEmpty() || ::stat(NativePath::toNative(QDir(path).filePath(names.first())).constData(), &status) != 0)
            return 0;
        return qint64(status.st_size);
    }
};
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
    const QString name = lastPathComponent(path);
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

QCoro::Task<> KorvoStore::runLocalFileOperation(QString inputURL, QString output, WorkMode mode)
{
    // The key comes first, as before, but off the window's thread: a keychain that is slow to
    // answer (it may take up to its deadline) must not freeze the window.
    const KeychainStore keychain = m_keychain;
    const bool encrypting = mode == WorkMode::Encrypt;
    std::shared_ptr<Cancellation> cancel = m_progress.cancellation();
    if (!cancel)
        cancel = std::make_shared<Cancellation>();
    const auto counter = std::make_shared<ProgressCounter>();
    m_progress.setStage([counter](qint64& done, qint64& total) { counter->load(done, total); });
    QCoro::Task<> sealing = m_fileQueue->run([keychain, inputURL, output, encrypting, cancel, counter] {
        const QByteArray key = LocalFileProtectionService::localKey(keychain, encrypting);
        cancel->throwIfRequested();
        const LocalFileProtectionService::Progress progress = [counter](qint64 done, qint64 total) {
            counter->store(done, total);
        };
        if (encrypting)
            LocalFileProtectionService::protect(inputURL, output, key, progress, &*cancel);
        else
            LocalFileProtectionService::open(inputURL, output, key, progress, &*cancel);
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
    QCoro::Task<bool> running = perform(busy, [this]() -> QCoro::Task<> { return runFileOperationSteps(); }, true);
    co_return co_await running;
}

QCoro::Task<> KorvoStore::runFileOperationSteps()
{
    // The selection and the mode as they were when the user started; the window stays live
    // while bundling runs.
    const QStringList urls = m_selectedURLs;
    const WorkMode mode = m_mode;
    const std::shared_ptr<Cancellation> cancel = m_progress.begin();
    const OperationProgressScope progressScope{m_progress};
    BundleFolder bundle(m_deps.temporaryDirectory);

    const auto counter = std::make_shared<ProgressCounter>();
    const BundleFolder* watched = &bundle;
    m_progress.setStage([counter, watched](qint64& done, qint64& total) {
        total = counter->total.load(std::memory_order_relaxed);
        done = watched->bundleSize();
    });
    const QString bundlePath = bundle.path;
    QCoro::Task<PreparedInput> preparing = m_fileQueue->run([urls, bundlePath, cancel, counter] {
        counter->total.store(selectionSize(urls, *cancel), std::memory_order_relaxed);
        return FilePreparationService::prepare(urls, bundlePath, &*cancel);
    });
    const PreparedInput prepared = co_await preparing;

    m_progress.setStage({});
    if (m_accessMode == AppAccessMode::Local) {
        // A keyring that cannot give the key is said before the user picks a place to save.
        QCoro::Task<> keying = ensureLocalKey(mode);
        co_await keying;
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
    if (m_accessMode == AppAccessMode::Local) {
        QCoro::Task<> sealing = runLocalFileOperation(prepared.url, output, mode);
        co_await sealing;
        rememberActivity(ActivityItem::make(mode == WorkMode::Encrypt ? lockedOnThisMac : openedOnThisMac,
                                            NativePath::displayText(prepared.displayName) + arrow
                                                + NativePath::displayText(lastPathComponent(output))));
        setSelectedURLs({});
        setStatusMessage(savedTo);
        co_return;
    }

    if (!m_identity)
        throw StoreError::message(signInFirst);
    const qint64 secretId = operationSecretId();
    // The bridge reports its figures; Cancel ends this job's child (no other run's), which
    // removes its unfinished output.
    const auto job = std::make_shared<BridgeChildren>();
    const auto figures = std::make_shared<ProgressCounter>();
    m_progress.setStage([figures](qint64& done, qint64& total) { figures->load(done, total); },
                        [job] { job->terminateAll(); });
    QCoro::Task<> running = runAccountFileOperation(prepared, output, mode, secretId, figures, job);
    co_await running;
    if (!note.isEmpty())
        setStatusMessage(savedTo);
}

QCoro::Task<> KorvoStore::runAccountFileOperation(PreparedInput prepared, QString output, WorkMode mode, qint64 secretId,
                                                   std::shared_ptr<ProgressCounter> counter, std::shared_ptr<BridgeChildren> job)
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
    BridgeRunner::Progress progress = [counter](qint64 done, qint64 total) { counter->store(done, total); };
    QCoro::Task<FileJobResult> running = bridge->run<FileJobResult>(request, std::move(progress), std::move(job));
    const std::shared_ptr<Cancellation> cancel = m_progress.cancellation();
    std::optional<FileJobResult> answer;
    try {
        answer = co_await running;
    } catch (...) {
        // A child ended by Cancel fails as a process; the user asked for it.
        if (cancel && cancel->requested())
            throw OperationCancelled();
        throw;
    }
    const FileJobResult& result = *answer;

    const QString savedName = result.resultFileName.value_or(lastPathComponent(output));
    rememberActivity(ActivityItem::make(mode == WorkMode::Encrypt ? lockedTitle : openedTitle,
                                        prepared.displayName + arrow + savedName + recipientActivitySuffix(secretId)));
    setSelectedURLs({});
    setStatusMessage(savedToPrefix + output);
    scheduleDataConsumptionRefresh();
}
