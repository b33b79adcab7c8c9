#include "ReferenceArchive.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace reference {

namespace {

using Bytes = std::vector<unsigned char>;

struct Field {
    template <typename T>
    Field(T v, int w) : value(static_cast<std::uint64_t>(v)), width(w) {}
    std::uint64_t value;
    int width;
};

// Appends each field little-endian in its width.
void fields(Bytes& out, std::initializer_list<Field> values) {
    for (const Field& f : values)
        for (int i = 0; i < f.width; ++i) out.push_back(static_cast<unsigned char>(f.value >> (8 * i)));
}

void put(std::FILE* file, const unsigned char* data, std::size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, file) != size) throw std::runtime_error("reference write failed");
}

void seek(std::FILE* file, std::uint64_t position) { std::fseek(file, static_cast<long>(position), SEEK_SET); }

}  // namespace

std::pair<std::uint16_t, std::uint16_t> dosTimeDate(std::int64_t seconds) {
    std::int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) rest += 86400, --days;
    // Days since 1970-01-01 to a civil date (proleptic Gregorian), by the well-known era method.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = std::clamp<std::int64_t>(yearOfEra + era * 400 + (month <= 2), 1980, 2099);
    const auto time = static_cast<std::uint16_t>((rest / 3600) * 2048 + ((rest / 60) % 60) * 32 + (rest % 60) / 2);
    return {time, static_cast<std::uint16_t>((year - 1980) * 512 + month * 32 + day)};
}

ReferenceArchive::ReferenceArchive(const std::string& path, std::uint64_t sizeLimit, std::uint64_t countLimit)
    : m_file(std::fopen(path.c_str(), "w+b")), m_sizeLimit(sizeLimit), m_countLimit(countLimit) {
    if (m_file == nullptr) throw std::runtime_error("reference create failed");
    writeEnd(0);
    std::fflush(m_file);
}

void ReferenceArchive::add(const Item& item) {
    // Lift the existing central directory out of the file.
    Bytes directory(m_directorySize);
    seek(m_file, m_directoryOffset);
    if (!directory.empty() && std::fread(directory.data(), 1, directory.size(), m_file) != directory.size())
        throw std::runtime_error("reference read failed");
    seek(m_file, m_directoryOffset);

    const std::uint64_t localOffset = m_directoryOffset, size = item.content.size();
    const bool zip64 = size >= m_sizeLimit;
    const std::uint64_t size32 = zip64 ? 0xFFFFFFFF : size, needed = zip64 ? 45 : 20;
    const auto [time, date] = dosTimeDate(item.modificationTime);
    const std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(item.content.data()), static_cast<uInt>(size)));
    auto localHeader = [&, time = time, date = date](std::uint32_t crcField) {
        Bytes h;
        fields(h, {{0x04034B50, 4}, {needed, 2}, {0x0800, 2}, {0, 2}, {time, 2}, {date, 2}, {crcField, 4},
                   {size32, 4}, {size32, 4}, {item.name.size(), 2}, {zip64 ? 20 : 0, 2}});
        h.insert(h.end(), item.name.begin(), item.name.end());
        if (zip64) fields(h, {{1, 2}, {16, 2}, {size, 8}, {size, 8}});
        return h;
    };
    // Header with a zero CRC, the data, then the header patched in place, as a streaming writer does.
    const Bytes provisional = localHeader(0), final = localHeader(crc);
    put(m_file, provisional.data(), provisional.size());
    put(m_file, reinterpret_cast<const unsigned char*>(item.content.data()), size);
    const auto afterData = static_cast<std::uint64_t>(std::ftell(m_file));
    seek(m_file, localOffset);
    put(m_file, final.data(), final.size());
    seek(m_file, afterData);
    put(m_file, directory.data(), directory.size());

    const bool offsetOverflows = localOffset >= m_sizeLimit;
    const int extraFields = (zip64 ? 2 : 0) + (offsetOverflows ? 1 : 0);
    Bytes c;
    fields(c, {{0x02014B50, 4}, {0x0315, 2}, {needed, 2}, {0x0800, 2}, {0, 2}, {time, 2}, {date, 2}, {crc, 4},
               {size32, 4}, {size32, 4}, {item.name.size(), 2}, {extraFields ? 4 + 8 * extraFields : 0, 2},
               {0, 2}, {0, 2}, {0, 2}, {static_cast<std::uint32_t>(item.typeBits | item.mode) << 16, 4},
               {offsetOverflows ? 0xFFFFFFFF : localOffset, 4}});
    c.insert(c.end(), item.name.begin(), item.name.end());
    if (extraFields) fields(c, {{1, 2}, {8 * extraFields, 2}});
    if (zip64) fields(c, {{size, 8}, {size, 8}});
    if (offsetOverflows) fields(c, {{localOffset, 8}});
    put(m_file, c.data(), c.size());

    m_count += 1;
    m_directorySize += c.size();
    m_directoryOffset = afterData;
    writeEnd(static_cast<std::uint64_t>(std::ftell(m_file)));
    std::fflush(m_file);
}

void ReferenceArchive::writeEnd(std::uint64_t position) {
    const bool count = m_count >= m_countLimit, size = m_directorySize >= m_sizeLimit,
               offset = m_directoryOffset >= m_sizeLimit;
    Bytes e;
    if (count || size || offset)
        fields(e, {{0x06064B50, 4}, {44, 8}, {0x0315, 2}, {45, 2}, {0, 4}, {0, 4}, {m_count, 8}, {m_count, 8},
                   {m_directorySize, 8}, {m_directoryOffset, 8}, {0x07064B50, 4}, {0, 4}, {position, 8}, {1, 4}});
    fields(e, {{0x06054B50, 4}, {0, 4}, {count ? 0xFFFF : m_count, 2}, {count ? 0xFFFF : m_count, 2},
               {size ? 0xFFFFFFFF : m_directorySize, 4}, {offset ? 0xFFFFFFFF : m_directoryOffset, 4}, {0, 2}});
    put(m_file, e.data(), e.size());
}

}  // namespace reference
