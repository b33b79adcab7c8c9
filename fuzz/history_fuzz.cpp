// Loads arbitrary bytes as a recent-activity file. Whatever loads must save and load again as
// the same list.
#include "core/ActivityHistory.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto items = ActivityHistory::decode(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!items)
        return 0;
    const auto again = ActivityHistory::decode(ActivityHistory::encode(*items));
    if (!again || *again != *items)
        std::abort();
    return 0;
}
