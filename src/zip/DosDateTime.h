#pragma once

#include <cstdint>

namespace zip {

// A modification time in the two 16-bit MS-DOS fields of ZIP headers.
struct DosDateTime {
    std::uint16_t time = 0;
    std::uint16_t date = 0;
};

// Converts seconds since 1970-01-01 UTC. The calendar is UTC (not local time), the year is
// clamped to 1980...2099 and odd seconds round down.
DosDateTime dosDateTime(std::int64_t secondsSinceEpoch);

}  // namespace zip
