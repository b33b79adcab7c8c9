#include "core/flows/FileJob.h"

#include "core/LocalFileProtectionService.h"
#include "core/Cancellation.h"
#include "core/NativePath.h"
#include "core/threads/FileWorkQueue.h"

#include <QDir>
#include <QUuid>

#include <atomic>
#include <filesystem>
#include <sys/stat.h>

namespace {

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

// The size of the one file in `folder` (the bundle being written), 0 while there is none.
qint64 bundleSize(const QString& folder)
{
    struct stat status {};
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    if (names.isEmpty() || ::stat(NativePath::toNative(QDir(folder).filePath(names.first())).constData(), &status) != 0)
        return 0;
    return qint64(status.st_size);
}

} // namespace

// Shared with the figures' reader and the work on the queue, which may outlive the job object.
struct FileJob::State {
    QString folder;
    ProgressCounter counter;
    std::atomic<bool> bundling{false};
    std::shared_ptr<BridgeChildren> children = std::make_shared<BridgeChildren>();
};

FileJob::FileJob(QString temporaryDirectory, std::shared_ptr<FileWorkQueue> queue, std::shared_ptr<const Cancellation> cancel)
    : m_state(std::make_shared<State>())
    , m_queue(std::move(queue))
    , m_cancel(cancel ? std::move(cancel) : std::make_shared<const Cancellation>())
{
    // A folder of the job's own, so that the bundle's growth can be watched without its name.
    // It is made only when a bundle is written into it: a job killed outright leaves nothing.
    m_state->folder = QDir(temporaryDirectory)
                          .filePath(QStringLiteral("korvo-job-") + QUuid::createUuid().toString(QUuid::WithoutBraces));
    ScratchFiles::track(NativePath::toNative(m_state->folder));
}

FileJob::~FileJob()
{
    // The names go at once; the blocks of a large bundle are given back on a thread of their
    // own (this runs on the caller's thread, and the kernel may first wait for writes in flight).
    const QDir folder(m_state->folder);
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QByteArray file = NativePath::toNative(folder.filePath(name));
        ScratchFiles::removeSoon(file, ScratchFiles::holdOpen(file));
    }
    QDir(m_state->folder).removeRecursively();
    ScratchFiles::release(NativePath::toNative(m_state->folder));
}

QString FileJob::lastPathComponent(const QString& path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    return trimmed.section(QLatin1Char('/'), -1);
}

FileJob::Figures FileJob::figures() const
{
    const std::shared_ptr<State> state = m_state;
    return [state](qint64& done, qint64& total) {
        if (state->bundling.load(std::memory_order_relaxed)) {
            total = state->counter.total.load(std::memory_order_relaxed);
            done = bundleSize(state->folder);
            return;
        }
        state->counter.load(done, total);
    };
}

std::function<void()> FileJob::stopper() const
{
    return [children = m_state->children] { children->terminateAll(); };
}

QCoro::Task<PreparedInput> FileJob::prepare(QStringList urls)
{
    const std::shared_ptr<State> state = m_state;
    const std::shared_ptr<const Cancellation> cancel = m_cancel;
    state->counter.store(0, 0);
    state->bundling = true;
    QCoro::Task<PreparedInput> preparing = m_queue->run([urls, state, cancel] {
        state->counter.total.store(selectionSize(urls, *cancel), std::memory_order_relaxed);
        try {
            if (FilePreparationService::bundles(urls))
                QDir().mkpath(state->folder);
            return FilePreparationService::prepare(urls, state->folder, &*cancel);
        } catch (const zip::ArchiveError& error) {
            if (error.kind() == zip::ArchiveError::Kind::cancelledOperation)
                throw OperationCancelled();
            throw BundleError(error);
        }
    });
    PreparedInput prepared = co_await preparing;
    state->bundling = false;
    co_return prepared;
}

QCoro::Task<> FileJob::runLocal(PreparedInput input, QString output, Direction direction, QByteArray key)
{
    const std::shared_ptr<State> state = m_state;
    const std::shared_ptr<const Cancellation> cancel = m_cancel;
    state->bundling = false;
    state->counter.store(0, 0);
    QCoro::Task<> sealing = m_queue->run([state, cancel, input, output, direction, key] {
        cancel->throwIfRequested();
        const LocalFileProtectionService::Progress progress = [state](qint64 done, qint64 total) {
            state->counter.store(done, total);
        };
        if (direction == Direction::lock)
            LocalFileProtectionService::protect(input.url, output, key, progress, &*cancel);
        else
            LocalFileProtectionService::open(input.url, output, key, progress, &*cancel);
    });
    co_await sealing;
}

QCoro::Task<FileJobResult> FileJob::runAccount(AccountServices services, AccountIdentity identity, PreparedInput input,
                                               QString output, Direction direction, qint64 secretId)
{
    const std::shared_ptr<State> state = m_state;
    const std::shared_ptr<const Cancellation> cancel = m_cancel;
    state->bundling = false;
    state->counter.store(0, 0);
    BridgeRequest request = services.request(
        direction == Direction::lock ? QStringLiteral("encryptFile") : QStringLiteral("decryptFile"), identity);
    request.secretId = secretId;
    request.filePath = input.url;
    request.outputPath = output;
    BridgeRunner::Progress progress = [state](qint64 done, qint64 total) { state->counter.store(done, total); };
    QCoro::Task<FileJobResult> running = services.run<FileJobResult>(request, std::move(progress), state->children);
    std::optional<FileJobResult> answer;
    try {
        answer = co_await running;
    } catch (const KorvoError&) {
        // A child ended by Cancel fails as a process; the person asked for it.
        if (cancel->requested())
            throw OperationCancelled();
        throw;
    }
    co_return *answer;
}
