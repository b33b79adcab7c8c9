#include "core/ActivityHistory.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <nlohmann/json.hpp>

#include <cmath>

namespace {

using Json = nlohmann::ordered_json;

const char* const saveFailedText = "Recent activity could not be saved.";

// Dates are seconds since 2001-01-01 00:00:00 UTC.
constexpr qint64 referenceDateUnixSeconds = 978307200;
// Beyond this many seconds either side of the reference date a value is not a plausible date.
constexpr double maximumDateSeconds = 1e12;

double toReferenceSeconds(const QDateTime& date)
{
    return double(date.toMSecsSinceEpoch() - referenceDateUnixSeconds * 1000) / 1000.0;
}

std::optional<QDateTime> fromReferenceSeconds(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > maximumDateSeconds)
        return std::nullopt;
    const auto msecs = qint64(std::llround(seconds * 1000.0)) + referenceDateUnixSeconds * 1000;
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

// Whole seconds are written as integers ("12", not "12.0"), like the files made elsewhere.
Json dateValue(double seconds)
{
    if (std::trunc(seconds) == seconds)
        return Json(qint64(seconds));
    return Json(seconds);
}

std::optional<QUuid> parseIdentifier(const std::string& text)
{
    if (text.size() != 36)
        return std::nullopt;
    const QUuid id = QUuid::fromString(QLatin1String(text.data(), qsizetype(text.size())));
    if (id.isNull() && text != "00000000-0000-0000-0000-000000000000")
        return std::nullopt;
    return id;
}

std::optional<ActivityItem> decodeItem(const Json& object)
{
    if (!object.is_object())
        return std::nullopt;
    const auto id = object.find("id");
    const auto title = object.find("title");
    const auto detail = object.find("detail");
    const auto date = object.find("date");
    if (id == object.end() || !id->is_string() || title == object.end() || !title->is_string()
        || detail == object.end() || !detail->is_string() || date == object.end() || !date->is_number())
        return std::nullopt;
    const auto uuid = parseIdentifier(id->get<std::string>());
    const auto when = fromReferenceSeconds(date->get<double>());
    if (!uuid || !when)
        return std::nullopt;
    return ActivityItem{*uuid, QString::fromStdString(title->get<std::string>()),
                        QString::fromStdString(detail->get<std::string>()), *when};
}

} // namespace

ActivityHistoryError::ActivityHistoryError()
    : KorvoError(QString::fromLatin1(saveFailedText))
{
}

ActivityHistory::ActivityHistory(AppPaths paths)
    : m_paths(std::move(paths))
{
}

QString ActivityHistory::historyPath(Mode mode) const
{
    const QString folder = m_paths.dataDirectory();
    if (folder.isEmpty() || !QDir().mkpath(folder))
        throw ActivityHistoryError();
    return QDir(folder).filePath(QString::fromLatin1(mode == Mode::local ? localFileName : accountFileName));
}

QList<ActivityItem> ActivityHistory::load(Mode mode) const
{
    try {
        QFile file(historyPath(mode));
        if (!file.exists() || !file.open(QIODevice::ReadOnly))
            return {};
        return decode(file.readAll()).value_or(QList<ActivityItem>{});
    } catch (const ActivityHistoryError&) {
        return {};
    }
}

void ActivityHistory::save(Mode mode, const QList<ActivityItem>& activities) const
{
    const QByteArray bytes = encode(activities.mid(0, activityLimit));
    QSaveFile file(historyPath(mode));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw ActivityHistoryError();
}

void ActivityHistory::remember(Mode mode, QList<ActivityItem>& activities, const ActivityItem& item) const
{
    activities.prepend(item);
    if (activities.size() > activityLimit)
        activities.resize(activityLimit);
    save(mode, activities);
}

bool ActivityHistory::remove(Mode mode) const
{
    const QString path = QDir(m_paths.dataDirectory())
                             .filePath(QString::fromLatin1(mode == Mode::local ? localFileName : accountFileName));
    return !QFile::exists(path) || QFile::remove(path);
}

QByteArray ActivityHistory::encode(const QList<ActivityItem>& activities)
{
    Json array = Json::array();
    for (const ActivityItem& item : activities) {
        Json object = Json::object();
        object["id"] = item.id.toString(QUuid::WithoutBraces).toUpper().toStdString();
        object["title"] = item.title.toStdString();
        object["detail"] = item.detail.toStdString();
        object["date"] = dateValue(toReferenceSeconds(item.date));
        array.push_back(std::move(object));
    }
    // Text that is not valid UTF-8 cannot occur in a QString, so the strict dump does not throw.
    return QByteArray::fromStdString(array.dump());
}

std::optional<QList<ActivityItem>> ActivityHistory::decode(const QByteArray& json)
{
    const Json array = Json::parse(json.constBegin(), json.constEnd(), nullptr, false);
    if (!array.is_array())
        return std::nullopt;
    QList<ActivityItem> items;
    items.reserve(qsizetype(array.size()));
    for (const Json& object : array) {
        auto item = decodeItem(object);
        if (!item)
            return std::nullopt;
        items.append(std::move(*item));
    }
    return items;
}
