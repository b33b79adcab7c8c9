#pragma once

#include <QDateTime>

#include <nlohmann/json.hpp>

#include <string>

// A point in time of the usage period. The service writes it as a Unix timestamp in seconds
// or milliseconds (a number, or a string holding only the number) or as an ISO 8601
// internet date-time.
struct ConsumptionPeriodDate {
    QDateTime date;   // UTC, millisecond precision

    // Throws BridgeDecodingError with "Timestamp must be finite." or
    // "Expected an ISO date or Unix timestamp.".
    static ConsumptionPeriodDate decode(const nlohmann::json& value);

    bool operator==(const ConsumptionPeriodDate&) const = default;
};
