// The recent-activity list of the current access mode and its file.
#include "KorvoStore.h"

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
    setActivities(m_history.load(historyMode(mode)));
}

void KorvoStore::saveActivities()
{
    try {
        m_history.save(historyMode(m_accessMode), m_activities);
    } catch (const KorvoError& error) {
        setErrorMessage(error.message());
    }
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
