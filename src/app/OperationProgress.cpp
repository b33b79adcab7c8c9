#include "OperationProgress.h"

#include "core/Cancellation.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {
const QString stopping = QStringLiteral("Stopping...");

QString bytesText(qint64 bytes)
{
    return QLocale::system().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

QString timeLeftText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("about %1 s left").arg(std::max<qint64>(seconds, 1));
    if (seconds < 3600)
        return QStringLiteral("about %1 min left").arg((seconds + 30) / 60);
    return QStringLiteral("about %1 h %2 min left").arg(seconds / 3600).arg((seconds % 3600 + 30) / 60);
}
} // namespace

OperationProgress::OperationProgress(QObject* parent)
    : QObject(parent)
{
    m_sampler.setInterval(sampleIntervalMs);
    connect(&m_sampler, &QTimer::timeout, this, &OperationProgress::sample);
}

OperationProgress::~OperationProgress()
{
    cancel();
}

std::shared_ptr<Cancellation> OperationProgress::begin()
{
    cancel();   // an earlier job still winding down stops as well
    m_cancel = std::make_shared<Cancellation>();
    setStage({});
    return m_cancel;
}

void OperationProgress::setStage(Source source, std::function<void()> onCancel)
{
    m_source = std::move(source);
    m_onCancel = std::move(onCancel);
    m_stageClock.start();
    if (m_source && m_cancel)
        m_sampler.start();
    else
        m_sampler.stop();
    publish(false, 0, {});
}

void OperationProgress::end()
{
    m_sampler.stop();
    m_source = {};
    m_onCancel = {};
    m_cancel.reset();
    publish(false, 0, {});
}

void OperationProgress::cancel()
{
    if (!m_cancel || m_cancel->requested())
        return;
    m_cancel->request();
    if (m_onCancel)
        m_onCancel();
    if (m_visible)
        publish(true, m_fraction, stopping);
    else
        emit changed();
}

QString OperationProgress::describe(qint64 done, qint64 total, qint64 elapsedMs)
{
    if (total <= 0)
        return {};
    done = std::clamp<qint64>(done, 0, total);
    QString text = bytesText(done) + QStringLiteral(" of ") + bytesText(total);
    if (done > 0 && done < total && elapsedMs >= showDelayMs) {
        const double seconds = double(total - done) * double(elapsedMs) / double(done) / 1000.0;
        text += QStringLiteral(", ") + timeLeftText(qint64(std::ceil(seconds)));
    }
    return text;
}

void OperationProgress::sample()
{
    if (!m_source || !m_cancel)
        return;
    const qint64 elapsed = m_stageClock.elapsed();
    if (elapsed < showDelayMs)
        return;
    if (m_cancel->requested()) {
        publish(true, m_fraction, stopping);
        return;
    }
    qint64 done = 0;
    qint64 total = 0;
    m_source(done, total);
    const double fraction = total > 0 ? std::clamp(double(done) / double(total), 0.0, 1.0) : 0.0;
    publish(true, fraction, describe(done, total, elapsed));
}

void OperationProgress::publish(bool visible, double fraction, const QString& text)
{
    if (visible == m_visible && fraction == m_fraction && text == m_text)
        return;
    m_visible = visible;
    m_fraction = fraction;
    m_text = text;
    emit changed();
}
