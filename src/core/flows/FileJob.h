#pragma once

#include "core/FilePreparationService.h"
#include "core/flows/AccountServices.h"
#include "core/threads/ProgressCounter.h"
#include "zip/ArchiveError.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class Cancellation;
class FileWorkQueue;

// The ZIP writer's failure as a flow reports it: the writer's sentence, in the family of errors
// every flow throws; the writer's own error stays readable for callers that word it themselves.
class BundleError : public KorvoError {
public:
    explicit BundleError(const zip::ArchiveError& error)
        : KorvoError(QString::fromStdString(error.what())), m_archiveError(error) {}
    const zip::ArchiveError& archiveError() const { return m_archiveError; }

private:
    zip::ArchiveError m_archiveError;
};

// One protection run on what the person chose: first the selection becomes one input file (a
// single file as it is, anything else a bundle in a folder of the job's own), then that file is
// sealed or opened into the chosen output, on this computer with the local key or through the
// bridge for a Korvo. The blocking work runs on the file work queue; the caller resumes on its
// own thread. Cancelling the job's Cancellation stops it with OperationCancelled; the bundle
// folder goes with the job, however it ends.
class FileJob {
public:
    enum class Direction { lock, open };
    // The running stage's figures (bytes done of total), read on the caller's thread.
    using Figures = std::function<void(qint64& done, qint64& total)>;

    FileJob(QString temporaryDirectory, std::shared_ptr<FileWorkQueue> queue, std::shared_ptr<const Cancellation> cancel);
    ~FileJob();
    FileJob(const FileJob&) = delete;
    FileJob& operator=(const FileJob&) = delete;

    // The selection (folders end in "/") as one file. Throws FilePreparationError, BundleError
    // or OperationCancelled.
    QCoro::Task<PreparedInput> prepare(QStringList urls);
    // Seals or opens `input` into `output` with the local protection key.
    QCoro::Task<> runLocal(PreparedInput input, QString output, Direction direction, QByteArray key);
    // Seals for Korvo `secretId`, or opens, through the bridge as `identity`. A child ended
    // because the job was cancelled (see stopper) ends in OperationCancelled.
    QCoro::Task<FileJobResult> runAccount(AccountServices services, AccountIdentity identity, PreparedInput input,
                                          QString output, Direction direction, qint64 secretId);

    // The figures of the stage under way: the bundle's growth while preparing, then the
    // engine's or the bridge's own count.
    Figures figures() const;
    // Ends this job's bridge child (no other run's), which removes its unfinished output; safe
    // to call from any thread, also after the job is gone.
    std::function<void()> stopper() const;

    // The last path component (a folder's trailing "/" ignored).
    static QString lastPathComponent(const QString& path);

private:
    struct State;
    std::shared_ptr<State> m_state;
    std::shared_ptr<FileWorkQueue> m_queue;
    std::shared_ptr<const Cancellation> m_cancel;
};
