#pragma once

#include "core/ActivityItem.h"
#include "core/AppPaths.h"
#include "core/KorvoError.h"

#include <QByteArray>
#include <QList>
#include <optional>

// Raised when the history file cannot be written; carries the store's sentence for it.
class ActivityHistoryError : public KorvoError {
public:
    ActivityHistoryError();
};

// The recent-activity files, one per access mode, in the data folder: a compact JSON array of
// entries, newest first, never more than activityLimit after a save. All calls are synchronous
// and meant for the GUI thread.
class ActivityHistory {
public:
    // Which history: the account-mode list or the local-mode list. They never mix.
    enum class Mode { account, local };

    static constexpr int activityLimit = 50;
    static constexpr const char* accountFileName = "recent-activity.json";
    static constexpr const char* localFileName = "recent-local-activity.json";

    explicit ActivityHistory(AppPaths paths);

    // The history file of a mode; creates the data folder. Throws ActivityHistoryError when the
    // folder cannot be created.
    QString historyPath(Mode mode) const;
    // The mode's entries in file order and in full; empty when the file is missing, unreadable
    // or not a valid history. Never fails and never touches the file.
    QList<ActivityItem> load(Mode mode) const;
    // Writes the first activityLimit entries atomically. Throws ActivityHistoryError.
    void save(Mode mode, const QList<ActivityItem>& activities) const;
    // Puts the item in front of the list, trims it to activityLimit and saves. The list is
    // updated even when saving fails (then ActivityHistoryError is thrown).
    void remember(Mode mode, QList<ActivityItem>& activities, const ActivityItem& item) const;
    // Deletes the mode's file; true when it is gone afterwards.
    bool remove(Mode mode) const;

    // The file format on its own.
    static QByteArray encode(const QList<ActivityItem>& activities);
    static std::optional<QList<ActivityItem>> decode(const QByteArray& json);

private:
    AppPaths m_paths;
};
