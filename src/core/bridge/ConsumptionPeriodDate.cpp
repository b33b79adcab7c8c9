#include "core/bridge/ConsumptionPeriodDate.h"

#include "core/bridge/BridgeError.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>
#include <QTimeZone>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace {

const QString kNotFinite = QStringLiteral("Timestamp must be finite.");
const QString kUnrecognised = QStringLiteral("Expected an ISO date or Unix timestamp.");

// Values above this are milliseconds, the rest seconds.
constexpr double kMillisecondsThreshold = 1e10;

QDateTime fromTimestamp(double x)
{
    if (!std::isfinite(x))
        throw BridgeDecodingError(kNotFinite);
    const double seconds = x > kMillisecondsThreshold ? x / 1000.0 : x;
    const double milliseconds = std::round(seconds * 1000.0);
    // QDateTime covers roughly ±292 million years; beyond that the value is not a date.
    if (std::fabs(milliseconds) > 9.0e18)
        throw BridgeDecodingError(kUnrecognised);
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(milliseconds), QTimeZone::utc());
}

// The whole string as a floating-point number, read in the C locale whatever the user's
// locale is; leading white space is not allowed.
std::optional<double> plainNumber(const std::string& s)
{
    if (s.empty() || std::isspace(static_cast<unsigned char>(s.front())))
        return std::nullopt;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const char* begin = s.c_str();
    char* end = nullptr;
    const double x = strtod_l(begin, &end, cLocale);
    if (end == begin || end != begin + s.size())
        return std::nullopt;
    return x;
}

// "2024-05-01T12:30:00Z", "2024-05-01T12:30:00.250+02:00": date, "T", time with seconds,
// an optional fraction, and a zone (Z or an offset).
std::optional<QDateTime> internetDateTime(const QString& s)
{
    static const QRegularExpression pattern(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(?:\.(\d+))?(Z|[+-]\d{2}:?\d{2})$)"));
    const QRegularExpressionMatch m = pattern.match(s);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QString fraction = m.captured(7);
    const int milliseconds = fraction.isEmpty() ? 0 : fraction.left(3).leftJustified(3, u'0').toInt();
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(), milliseconds);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    const QString zone = m.captured(8);
    if (zone != u"Z") {
        const QString digits = QString(zone).remove(u':');
        const int hours = digits.mid(1, 2).toInt();
        const int minutes = digits.mid(3, 2).toInt();
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 3600 + minutes * 60) * (zone.startsWith(u'-') ? -1 : 1);
    }
    return QDateTime(date, time, QTimeZone::utc()).addSecs(-offsetSeconds);
}

} // namespace

ConsumptionPeriodDate ConsumptionPeriodDate::decode(const nlohmann::json& value)
{
    if (value.is_number())
        return {fromTimestamp(value.get<double>())};
    if (value.is_string()) {
        const std::string& s = value.get_ref<const std::string&>();
        if (const std::optional<double> x = plainNumber(s))
            return {fromTimestamp(*x)};
        if (const std::optional<QDateTime> date = internetDateTime(QString::fromStdString(s)))
            return {*date};
    }
    throw BridgeDecodingError(kUnrecognised);
}
