#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>

// One entry of the recent-activity list: what happened, one line of detail, and when.
struct ActivityItem {
    QUuid id;
    QString title;
    QString detail;
    QDateTime date;

    bool operator==(const ActivityItem&) const = default;

    // A fresh entry made now, with a new identifier.
    static ActivityItem make(const QString& title, const QString& detail);
};
