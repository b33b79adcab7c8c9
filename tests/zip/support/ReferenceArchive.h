#pragma once

// An independent, deliberately naive archive writer used as the oracle for byte identity: after
// every entry it re-reads the central directory from the file, writes the new entry where the
// directory was, writes the old directory back after it, appends the new header and rewrites the
// end records, exactly as an append-in-place writer would. It shares no code with the library.

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

namespace reference {

struct Item {
    std::string name;
    std::string content;                 // a link's content is its target
    std::int64_t modificationTime = 0;   // seconds since 1970 UTC
    std::uint16_t mode = 0100644;        // full mode word, type bits included
    std::uint32_t typeBits = 0100000;    // 0100000 file, 0120000 link
};

class ReferenceArchive {
public:
    ReferenceArchive(const std::string& path, std::uint64_t sizeLimit = 0xFFFFFFFF, std::uint64_t countLimit = 0xFFFF);
    ~ReferenceArchive() { std::fclose(m_file); }
    void add(const Item& item);

private:
    void writeEnd(std::uint64_t position);
    std::FILE* m_file;
    std::uint64_t m_sizeLimit, m_countLimit, m_count = 0, m_directorySize = 0, m_directoryOffset = 0;
};

// The DOS (time, date) pair computed arithmetically from the civil calendar.
std::pair<std::uint16_t, std::uint16_t> dosTimeDate(std::int64_t secondsSinceEpoch);

}  // namespace reference
