#include "zip/DosDateTime.h"

#include "zip/ZipFormat.h"

#include <algorithm>
#include <ctime>

namespace zip {

DosDateTime dosDateTime(std::int64_t secondsSinceEpoch) {
    std::time_t seconds = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm utc{};
    if (gmtime_r(&seconds, &utc) == nullptr) {
        // Beyond what the C library can represent: the far end of the DOS range.
        utc = std::tm{};
        utc.tm_year = secondsSinceEpoch < 0 ? format::kDosEpochYear - 1900 : format::kDosLastYear - 1900;
        utc.tm_mon = 0;
        utc.tm_mday = 1;
    }
    const long year = std::clamp<long>(static_cast<long>(utc.tm_year) + 1900, format::kDosEpochYear,
                                       format::kDosLastYear);
    DosDateTime result;
    result.date = static_cast<std::uint16_t>((year - format::kDosEpochYear) * 512 + (utc.tm_mon + 1) * 32
                                             + utc.tm_mday);
    result.time = static_cast<std::uint16_t>(utc.tm_hour * 2048 + utc.tm_min * 32 + utc.tm_sec / 2);
    return result;
}

}  // namespace zip
