// Known-answer bytes and field-level checks of what the writer puts in its records.

#include "support/ReferenceArchive.h"
#include "support/TestSupport.h"
#include "zip/Archive.h"
#include "zip/DosDateTime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

using namespace testing_support;

namespace {

std::string hexBytes(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes) out.push_back(static_cast<char>(b));
    return out;
}

zip::Archive::Provider fromString(const std::string& content) {
    return [content](std::uint64_t position, unsigned char* destination, std::size_t length) {
        std::memcpy(destination, content.data() + position, length);
    };
}

void addBytes(zip::Archive& archive, const std::string& name, const std::string& content, std::int64_t time,
              zip::Entry::EntryType type = zip::Entry::EntryType::file,
              std::optional<std::uint16_t> permissions = std::nullopt) {
    archive.addEntry(name, type, content.size(), time, permissions, zip::CompressionMethod::none, 16384,
                     fromString(content));
}

constexpr std::int64_t kMarch15 = 1710510330;  // 2024-03-15 13:45:30 UTC

}  // namespace

TEST(ArchiveFormat, EmptyArchiveIsTheBareEndRecord) {
    ScratchFolder folder;
    const std::string path = folder / "empty.zip";
    zip::Archive(path).close();
    EXPECT_EQ(readFile(path), hexBytes({0x50, 0x4B, 0x05, 0x06}) + std::string(18, '\0'));
}

TEST(ArchiveFormat, ArchiveLeftToItsDestructorIsCompleteToo) {
    ScratchFolder folder;
    const std::string path = folder / "dropped.zip";
    {
        zip::Archive archive(path);
        addBytes(archive, "a", "abc", kMarch15);
    }
    EXPECT_EQ(readFile(path).size(), 31u + 3 + 47 + 22);
    EXPECT_TRUE(unzipAccepts(path));
}

TEST(ArchiveFormat, OneStoredFileKnownAnswer) {
    ScratchFolder folder;
    const std::string path = folder / "one.zip";
    zip::Archive archive(path);
    addBytes(archive, "a", "abc", kMarch15);
    archive.close();

    const std::string expected =
        // local header: version 20, UTF-8 flag, stored, 13:45:30, 2024-03-15, CRC, sizes 3, name "a"
        hexBytes({0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x00, 0x08, 0x00, 0x00, 0xAF, 0x6D, 0x6F, 0x58,
                  0xC2, 0x41, 0x24, 0x35, 0x03, 0, 0, 0, 0x03, 0, 0, 0, 0x01, 0x00, 0x00, 0x00, 'a'})
        + "abc"
        // central directory header: made by 0x0315, external attributes 0100644 << 16, offset 0
        + hexBytes({0x50, 0x4B, 0x01, 0x02, 0x15, 0x03, 0x14, 0x00, 0x00, 0x08, 0x00, 0x00, 0xAF, 0x6D,
                    0x6F, 0x58, 0xC2, 0x41, 0x24, 0x35, 0x03, 0, 0, 0, 0x03, 0, 0, 0, 0x01, 0x00, 0x00, 0x00,
                    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA4, 0x81, 0, 0, 0, 0, 'a'})
        // end record: one entry, directory of 47 bytes at offset 34
        + hexBytes({0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 0x01, 0x00, 0x01, 0x00, 0x2F, 0, 0, 0, 0x22, 0, 0, 0, 0, 0});
    EXPECT_EQ(readFile(path), expected);
}

TEST(ArchiveFormat, DosDateClampsTheYearAndUsesUtc) {
    struct Case {
        std::int64_t seconds;
        int year, month, day, hour, minute, second;
    };
    const Case cases[] = {
        {157766400, 1980, 1, 1, 0, 0, 0},        // 1975-01-01: year raised to 1980
        {-1, 1980, 12, 31, 23, 59, 58},          // 1969-12-31 23:59:59: only the year moves
        {315532800, 1980, 1, 1, 0, 0, 0},        // the first DOS day
        {4102444799, 2099, 12, 31, 23, 59, 58},  // the last second kept as is (odd seconds round down)
        {4275806400, 2099, 6, 30, 12, 0, 0},     // 2105-06-30: year lowered to 2099
        {4354819198, 2099, 12, 31, 23, 59, 58},  // 2107-12-31, the end of the DOS field's own range
        {4354819200, 2099, 1, 1, 0, 0, 0},       // 2108-01-01, beyond it
        {kMarch15, 2024, 3, 15, 13, 45, 30},
    };
    // A far-east zone must not move the calendar: the fields are UTC.
    const char* oldZone = std::getenv("TZ");
    const std::string saved = oldZone ? oldZone : "";
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    for (const Case& c : cases) {
        const zip::DosDateTime dos = zip::dosDateTime(c.seconds);
        EXPECT_EQ(dos.date, (c.year - 1980) * 512 + c.month * 32 + c.day) << c.seconds;
        EXPECT_EQ(dos.time, c.hour * 2048 + c.minute * 32 + c.second / 2) << c.seconds;
    }
    if (oldZone) ::setenv("TZ", saved.c_str(), 1); else ::unsetenv("TZ");
    ::tzset();

    // And across the whole range, against an independent civil-calendar computation.
    std::mt19937_64 random(7);
    std::uniform_int_distribution<std::int64_t> seconds(-2'000'000'000LL, 6'000'000'000LL);
    for (int i = 0; i < 20000; ++i) {
        const std::int64_t s = seconds(random);
        const auto [time, date] = reference::dosTimeDate(s);
        const zip::DosDateTime dos = zip::dosDateTime(s);
        ASSERT_EQ(dos.date, date) << s;
        ASSERT_EQ(dos.time, time) << s;
    }
}

TEST(ArchiveFormat, ExternalAttributesCarryTypeAndPermissions) {
    ScratchFolder folder;
    const std::string path = folder / "modes.zip";
    zip::Archive archive(path);
    addBytes(archive, "plain", "x", kMarch15, zip::Entry::EntryType::file, 0644);
    addBytes(archive, "link", "target/path", kMarch15, zip::Entry::EntryType::symlink, 0755);
    addBytes(archive, "defaults-file", "y", kMarch15);
    addBytes(archive, "folder", "", kMarch15, zip::Entry::EntryType::directory);
    archive.close();

    const auto listing = pythonListing(path);
    ASSERT_EQ(listing["entries"].size(), 4u);
    const auto& e = listing["entries"];
    EXPECT_EQ(e[0]["mode"], 0100644);
    EXPECT_EQ(e[1]["mode"], 0120755);
    EXPECT_EQ(e[1]["data"], "target/path");
    EXPECT_EQ(e[2]["mode"], 0100644);
    EXPECT_EQ(e[3]["name"], "folder/");
    EXPECT_EQ(e[3]["mode"], 040755);
    for (const auto& entry : e) {
        EXPECT_EQ(entry["low"], 0);
        EXPECT_EQ(entry["made"], 0x15);
        EXPECT_EQ(entry["system"], 3);
        EXPECT_EQ(entry["method"], 0);
    }
}

TEST(ArchiveFormat, Utf8NamesAndTheNameLengthLimit) {
    ScratchFolder folder;
    const std::string path = folder / "names.zip";
    const std::string utf8 = "Zürich/Łódź 東京 🙂.txt";
    const std::string longest(65535, 'n');
    {
        zip::Archive archive(path);
        addBytes(archive, utf8, "data", kMarch15);
        addBytes(archive, longest, "", kMarch15);
        // One byte too long: refused before anything is written, the archive carries on.
        try {
            addBytes(archive, longest + "n", "never written", kMarch15);
            ADD_FAILURE() << "a 65,536-byte name was accepted";
        } catch (const zip::ArchiveError& error) {
            EXPECT_EQ(error.kind(), zip::ArchiveError::Kind::invalidEntryPath);
        }
        archive.close();
    }
    {
        reference::ReferenceArchive expected(folder / "expected.zip");
        expected.add({utf8, "data", kMarch15});
        expected.add({longest, "", kMarch15});
    }
    EXPECT_EQ(readFile(path), readFile(folder / "expected.zip"));
    const auto listing = pythonListing(path);
    ASSERT_EQ(listing["entries"].size(), 2u);
    EXPECT_EQ(listing["entries"][0]["name"], utf8);
    EXPECT_EQ(listing["entries"][0]["flags"].get<int>() & 0x0808, 0x0800);  // UTF-8 bit, no descriptor bit
    EXPECT_EQ(listing["entries"][1]["name"].get<std::string>().size(), 65535u);

    const std::string utf8Only = folder / "utf8.zip";
    {
        zip::Archive archive(utf8Only);
        addBytes(archive, utf8, "data", kMarch15);
    }
    EXPECT_TRUE(unzipAccepts(utf8Only));
}
