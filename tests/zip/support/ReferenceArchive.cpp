#include "ReferenceArchive.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace reference {

namespace {

constexpr std::size_t kPiece = 16384;

void bytes(std::vector<unsigned char>& out, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void put(std::FILE* file, const std::vector<unsigned char>& data) {
    if (!data.empty() && std::fwrite(data.data(), 1, data.size(), file) != data.size())
        throw std::runtime_error("reference write failed");
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian), by the well-known era method.
void civilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
}

}  // namespace

std::pair<std::uint16_t, std::uint16_t> dosTimeDate(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    civilFromDays(days, year, month, day);
    year = std::clamp<std::int64_t>(year, 1980, 2099);
    const auto time = static_cast<std::uint16_t>((rest / 3600) * 2048 + ((rest / 60) % 60) * 32 + (rest % 60) / 2);
    const auto date = static_cast<std::uint16_t>((year - 1980) * 512 + month * 32 + day);
    return {time, date};
}

ReferenceArchive::ReferenceArchive(const std::string& path, std::uint64_t sizeLimit, std::uint64_t countLimit)
    : m_file(std::fopen(path.c_str(), "w+b")), m_sizeLimit(sizeLimit), m_countLimit(countLimit) {
    if (m_file == nullptr) throw std::runtime_error("reference create failed");
    writeEnd(0);
    std::fflush(m_file);
}

ReferenceArchive::~ReferenceArchive() { std::fclose(m_file); }

void ReferenceArchive::add(const Item& item) {
    // Lift the existing central directory out of the file.
    std::vector<unsigned char> directory(m_directorySize);
    std::fseek(m_file, static_cast<long>(m_directoryOffset), SEEK_SET);
    if (!directory.empty() && std::fread(directory.data(), 1, directory.size(), m_file) != directory.size())
        throw std::runtime_error("reference read failed");
    std::fseek(m_file, static_cast<long>(m_directoryOffset), SEEK_SET);

    const std::uint64_t localOffset = m_directoryOffset;
    const std::uint64_t size = item.content.size();
    const bool zip64 = size >= m_sizeLimit;
    const auto [time, date] = dosTimeDate(item.modificationTime);
    auto localHeader = [&](std::uint32_t crc) {
        std::vector<unsigned char> h;
        bytes(h, 0x04034B50, 4);
        bytes(h, zip64 ? 45 : 20, 2);
        bytes(h, 0x0800, 2);
        bytes(h, 0, 2);
        bytes(h, time, 2);
        bytes(h, date, 2);
        bytes(h, crc, 4);
        bytes(h, zip64 ? 0xFFFFFFFF : size, 4);
        bytes(h, zip64 ? 0xFFFFFFFF : size, 4);
        bytes(h, item.name.size(), 2);
        bytes(h, zip64 ? 20 : 0, 2);
        h.insert(h.end(), item.name.begin(), item.name.end());
        if (zip64) {
            bytes(h, 1, 2);
            bytes(h, 16, 2);
            bytes(h, size, 8);
            bytes(h, size, 8);
        }
        return h;
    };
    put(m_file, localHeader(0));
    uLong crc = crc32(0, nullptr, 0);
    for (std::size_t done = 0; done < size; done += kPiece) {
        const std::size_t piece = std::min<std::size_t>(kPiece, size - done);
        const auto* data = reinterpret_cast<const unsigned char*>(item.content.data() + done);
        crc = crc32(crc, data, static_cast<uInt>(piece));
        put(m_file, std::vector<unsigned char>(data, data + piece));
    }
    const std::uint64_t afterData = static_cast<std::uint64_t>(std::ftell(m_file));
    std::fseek(m_file, static_cast<long>(localOffset), SEEK_SET);
    put(m_file, localHeader(static_cast<std::uint32_t>(crc)));
    std::fseek(m_file, static_cast<long>(afterData), SEEK_SET);
    for (std::size_t done = 0; done < directory.size(); done += kPiece) {
        const auto first = directory.begin() + static_cast<long>(done);
        put(m_file, std::vector<unsigned char>(first, first + static_cast<long>(std::min(kPiece, directory.size() - done))));
    }

    const bool offsetOverflows = localOffset >= m_sizeLimit;
    const int extraFields = (zip64 ? 2 : 0) + (offsetOverflows ? 1 : 0);
    std::vector<unsigned char> c;
    bytes(c, 0x02014B50, 4);
    bytes(c, 0x0315, 2);
    bytes(c, zip64 ? 45 : 20, 2);
    bytes(c, 0x0800, 2);
    bytes(c, 0, 2);
    bytes(c, time, 2);
    bytes(c, date, 2);
    bytes(c, crc, 4);
    bytes(c, zip64 ? 0xFFFFFFFF : size, 4);
    bytes(c, zip64 ? 0xFFFFFFFF : size, 4);
    bytes(c, item.name.size(), 2);
    bytes(c, extraFields ? 4 + 8 * extraFields : 0, 2);
    bytes(c, 0, 2);
    bytes(c, 0, 2);
    bytes(c, 0, 2);
    bytes(c, static_cast<std::uint32_t>(item.typeBits | item.mode) << 16, 4);
    bytes(c, offsetOverflows ? 0xFFFFFFFF : localOffset, 4);
    c.insert(c.end(), item.name.begin(), item.name.end());
    if (extraFields) {
        bytes(c, 1, 2);
        bytes(c, 8 * extraFields, 2);
        if (zip64) {
            bytes(c, size, 8);
            bytes(c, size, 8);
        }
        if (offsetOverflows) bytes(c, localOffset, 8);
    }
    put(m_file, c);

    m_count += 1;
    m_directorySize += c.size();
    m_directoryOffset = afterData;
    writeEnd(static_cast<std::uint64_t>(std::ftell(m_file)));
    std::fflush(m_file);
}

void ReferenceArchive::writeEnd(std::uint64_t position) {
    const bool count = m_count >= m_countLimit;
    const bool size = m_directorySize >= m_sizeLimit;
    const bool offset = m_directoryOffset >= m_sizeLimit;
    std::vector<unsigned char> e;
    if (count || size || offset) {
        bytes(e, 0x06064B50, 4);
        bytes(e, 44, 8);
        bytes(e, 0x0315, 2);
        bytes(e, 45, 2);
        bytes(e, 0, 4);
        bytes(e, 0, 4);
        bytes(e, m_count, 8);
        bytes(e, m_count, 8);
        bytes(e, m_directorySize, 8);
        bytes(e, m_directoryOffset, 8);
        bytes(e, 0x07064B50, 4);
        bytes(e, 0, 4);
        bytes(e, position, 8);
        bytes(e, 1, 4);
    }
    bytes(e, 0x06054B50, 4);
    bytes(e, 0, 4);
    bytes(e, count ? 0xFFFF : m_count, 2);
    bytes(e, count ? 0xFFFF : m_count, 2);
    bytes(e, size ? 0xFFFFFFFF : m_directorySize, 4);
    bytes(e, offset ? 0xFFFFFFFF : m_directoryOffset, 4);
    bytes(e, 0, 2);
    put(m_file, e);
}

}  // namespace reference
