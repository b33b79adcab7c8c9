// The recent-activity list of the current access mode and its file. The file is written on a
// queue of its own, one write at a time in the order asked, so a slow disk never holds up the
// window; a list still waiting to be written is what a load in the meantime sees.
#include "KorvoStore.h"
#include "core/threads/SerialQueue.h"

#include <QPointer>

ActivityHistory::Mode KorvoStore::historyMode(AppAccessMode mode)
{
    return mode == AppAccessMode::Local ? ActivityHistory::Mode::local : ActivityHistory::Mode::account;
}

QString KorvoStore::activityHistoryURL(AppAccessMode mode) const
{
    return m_history.historyPath(historyMode(mode));
}

void KorvoStore::loadActivities(AppAccessMode mode)
{
    const auto pending = m_unsavedHistory.constFind(mode);
    setActivities(pending != m_unsavedHistory.cend() ? pending->items : m_history.load(historyMode(mode)));
}

void KorvoStore::saveActivities()
{
    const AppAccessMode mode = m_accessMode;
    UnsavedHistory& unsaved = m_unsavedHistory[mode];
    unsaved.items = m_activities;
    ++unsaved.writes;
    writeHistory(mode, m_activities);
}

QCoro::Task<> KorvoStore::writeHistory(AppAccessMode mode, QList<ActivityItem> items)
{
    const ActivityHistory history = m_history;
    QPointer<KorvoStore> self(this);
    QString failure;
    try {
        QCoro::Task<> writing = m_historyQueue->run([history, mode, items] { history.save(historyMode(mode), items); });
        co_await writing;
    } catch (const KorvoError& error) {
        failure = error.message();
    }
    if (!self)
        co_return;
    const auto unsaved = m_unsavedHistory.find(mode);
    if (unsaved != m_unsavedHistory.end() && --unsaved->writes == 0)
        m_unsavedHistory.erase(unsaved);
    if (!failure.isEmpty())
        setErrorMessage(failure);
}

QCoro::Task<bool> KorvoStore::removeHistoryFile(AppAccessMode mode)
{
    m_unsavedHistory.remove(mode);
    const ActivityHistory history = m_history;
    // Behind every write already queued, so none of them brings the file back.
    QCoro::Task<bool> removing = m_historyQueue->run([history, mode] { return history.remove(historyMode(mode)); });
    co_return co_await removing;
}

QCoro::Task<> KorvoStore::historyIdle()
{
    QCoro::Task<> waiting = m_historyQueue->idle();
    co_await waiting;
}

void KorvoStore::rememberActivity(const ActivityItem& item)
{
    QList<ActivityItem> activities = m_activities;
    activities.prepend(item);
    if (activities.size() > activityLimit)
        activities.resize(activityLimit);
    setActivities(std::move(activities));
    saveActivities();
}
