#include "core/ActivityItem.h"

ActivityItem ActivityItem::make(const QString& title, const QString& detail)
{
    return {QUuid::createUuid(), title, detail, QDateTime::currentDateTimeUtc()};
}
