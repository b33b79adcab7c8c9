#pragma once

#include "core/threads/ProgressCounter.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

#include <atomic>
#include <functional>
#include <memory>

class Cancellation;

// The running file operation as the busy overlay shows it: a bar with bytes done of total and
// the time left, and the way to stop it. The window's thread samples the figures a few times a
// second, so a worker never waits on the window. A stage's bar appears only once that stage has
// run for `showDelay`: small jobs look as they always did.
class OperationProgress : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The store owns the operation's progress.")
    Q_PROPERTY(bool visible READ visible NOTIFY changed)
    Q_PROPERTY(double fraction READ fraction NOTIFY changed)
    Q_PROPERTY(QString text READ text NOTIFY changed)
    Q_PROPERTY(bool cancellable READ cancellable NOTIFY changed)

public:
    static constexpr int showDelayMs = 500;
    // Each new figure redraws the whole window; where a software renderer draws it, that takes
    // processor time from the work, so five times a second is enough.
    static constexpr int sampleIntervalMs = 200;
    // Where a stage's figures come from: called on the window's thread at every sample.
    using Source = std::function<void(qint64& done, qint64& total)>;

    explicit OperationProgress(QObject* parent = nullptr);
    ~OperationProgress() override;

    bool visible() const { return m_visible; }
    double fraction() const { return m_fraction; }
    QString text() const { return m_text; }
    bool cancellable() const { return m_cancel != nullptr; }
    // The running job's cancellation; none between jobs.
    std::shared_ptr<Cancellation> cancellation() const { return m_cancel; }

    // A new job that can be cancelled; its stages follow. Returns the job's cancellation, which
    // the work holds on to.
    std::shared_ptr<Cancellation> begin();
    // The job enters a stage whose figures come from `source` (none: the job waits on the user,
    // and shows no bar; a total of 0: Cancel without figures). `onCancel` runs when the user
    // cancels during the stage, for work the cancellation flag cannot reach (a child process).
    void setStage(Source source, std::function<void()> onCancel = {});
    // The job has ended, however it ended.
    void end();
    // Asks the running job to stop; nothing when none runs. Safe to call at any time.
    Q_INVOKABLE void cancel();

    // "1.0 GB of 2.0 GB, about 12 s left" (the time when it can be estimated); "" without a total.
    static QString describe(qint64 done, qint64 total, qint64 elapsedMs);

signals:
    void changed();

private:
    void sample();
    void publish(bool visible, double fraction, const QString& text);

    std::shared_ptr<Cancellation> m_cancel;
    Source m_source;
    std::function<void()> m_onCancel;
    QElapsedTimer m_stageClock;
    QTimer m_sampler;
    bool m_visible = false;
    double m_fraction = 0;
    QString m_text;
};

// Calls end() on every way out of a job.
struct OperationProgressScope {
    OperationProgress& progress;
    ~OperationProgressScope() { progress.end(); }
};
