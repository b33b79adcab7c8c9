// ZIP64: the thresholds swept through lowered limits against an archive rewritten after every
// entry, then the entry-count threshold for real.

#include "support/ReferenceArchive.h"
#include "support/TestSupport.h"
#include "zip/Archive.h"
#include "zip/LittleEndian.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testing_support;

namespace {

constexpr std::int64_t kTime = 1600000000;

std::vector<reference::Item> itemsOfSizes(const std::vector<std::size_t>& sizes) {
    std::vector<reference::Item> items;
    for (std::size_t i = 0; i < sizes.size(); ++i)
        items.push_back({"entry-" + std::to_string(i), std::string(sizes[i], static_cast<char>('a' + i % 26)), kTime});
    return items;
}

// Writes `items` both ways under the same limits; returns our archive's path after checking
// the two files are identical and that both independent readers accept it.
std::string writeBothAndCompare(const ScratchFolder& folder, const std::string& name,
                                const std::vector<reference::Item>& items, zip::Limits limits) {
    const std::string ours = folder / (name + ".zip");
    const std::string theirs = folder / (name + "-expected.zip");
    {
        zip::Archive archive(ours, limits);
        for (const auto& item : items) {
            archive.addEntry(item.name, zip::Entry::EntryType::file, item.content.size(), item.modificationTime,
                             item.mode & 07777, zip::CompressionMethod::none, 16384,
                             [&item](std::uint64_t position, unsigned char* destination, std::size_t length) {
                                 std::memcpy(destination, item.content.data() + position, length);
                             });
        }
        archive.close();
    }
    {
        reference::ReferenceArchive expected(theirs, limits.size, limits.count);
        for (const auto& item : items) expected.add(item);
    }
    EXPECT_EQ(readFile(ours), readFile(theirs)) << name;
    EXPECT_TRUE(unzipAccepts(ours)) << name;
    return ours;
}

}  // namespace

TEST(Zip64, EntryCountThresholdSweep) {
    ScratchFolder folder;
    for (const std::size_t count : {3u, 4u, 5u, 9u}) {
        const std::string name = "count-" + std::to_string(count);
        const std::string path = writeBothAndCompare(folder, name, itemsOfSizes(std::vector<std::size_t>(count, 3)),
                                                     {zip::format::kMax32, 4});
        const auto listing = pythonListing(path);
        ASSERT_EQ(listing["entries"].size(), count) << name;
        EXPECT_EQ(listing.contains("zip64"), count >= 4) << name;
        EXPECT_EQ(listing["eocd"]["count"], count >= 4 ? 0xFFFF : count) << name;
        if (count >= 4) {
            EXPECT_EQ(listing["zip64"]["count"], count) << name;
        }
    }
}

TEST(Zip64, EntrySizeThresholdSweep) {
    ScratchFolder folder;
    // Limit 1000: sizes just below, at and above it, in the small path and the streamed path.
    const zip::Limits limits{1000, zip::format::kMax16};
    const std::string path =
        writeBothAndCompare(folder, "sizes", itemsOfSizes({999, 1000, 1001, 0, 3 << 20}), limits);
    const auto listing = pythonListing(path);
    ASSERT_EQ(listing["entries"].size(), 5u);
    const int needed[] = {20, 45, 45, 20, 45};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(listing["entries"][i]["needed"], needed[i]) << i;
        EXPECT_EQ(listing["entries"][i]["size"], listing["entries"][i]["compressed"]) << i;
    }
    EXPECT_EQ(listing["entries"][4]["size"], 3 << 20);

    // The local header of the 1000-byte entry: sentinels and a 20-byte field with both sizes.
    const std::string bytes = readFile(path);
    const std::size_t offset = listing["entries"][1]["offset"];
    const auto* header = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
    EXPECT_EQ(zip::le::get32(header + 18), 0xFFFFFFFFu);
    EXPECT_EQ(zip::le::get32(header + 22), 0xFFFFFFFFu);
    EXPECT_EQ(zip::le::get16(header + 28), 20);
    const unsigned char* extra = header + 30 + 7;
    EXPECT_EQ(zip::le::get16(extra), 1);
    EXPECT_EQ(zip::le::get16(extra + 2), 16);
    EXPECT_EQ(zip::le::get64(extra + 4), 1000u);
    EXPECT_EQ(zip::le::get64(extra + 12), 1000u);
}

TEST(Zip64, OffsetAndDirectorySizeThresholds) {
    ScratchFolder folder;
    // Entries of 137 bytes (30 + 7 + 100) under a limit of 274: the third local header sits
    // exactly at the limit, so from there on the central headers carry the offset alone.
    const zip::Limits limits{274, zip::format::kMax16};
    const std::string path = writeBothAndCompare(folder, "offsets", itemsOfSizes(std::vector<std::size_t>(5, 100)), limits);
    const auto listing = pythonListing(path);
    ASSERT_EQ(listing["entries"].size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(listing["entries"][i]["needed"], 20) << i;
    EXPECT_EQ(listing["entries"][1]["extra"], "");
    EXPECT_EQ(listing["entries"][2]["extra"], "010008001201000000000000");  // ID 1, 8 bytes, offset 274
    EXPECT_EQ(listing["entries"][2]["offset"], 274);
    ASSERT_TRUE(listing.contains("zip64"));
    EXPECT_EQ(listing["eocd"]["offset"], 0xFFFFFFFFu);
    EXPECT_EQ(listing["zip64"]["offset"], 5 * 137);
    EXPECT_EQ(listing["zip64"]["length"], 44);
    EXPECT_EQ(listing["zip64"]["needed"], 45);
    EXPECT_EQ(listing["zip64"]["disks"], 1);

    // The directory size alone reaching the limit (3 × (46 + 60) = 318), the offset (270) not.
    std::vector<reference::Item> named;
    for (int i = 0; i < 3; ++i) named.push_back({std::string(60, static_cast<char>('p' + i)), "", kTime});
    for (const std::uint64_t limit : {318u, 319u}) {
        const std::string name = "dirsize-" + std::to_string(limit);
        const auto sized = pythonListing(writeBothAndCompare(folder, name, named, {limit, zip::format::kMax16}));
        EXPECT_EQ(sized.contains("zip64"), limit == 318) << name;
        EXPECT_EQ(sized["eocd"]["size"], limit == 318 ? 0xFFFFFFFFu : 318u) << name;
        EXPECT_EQ(sized["eocd"]["offset"], 270) << name;
    }
}

// The real thing, without lowered limits: one entry short of, at and past the 16-bit count.
TEST(Zip64, SixtyFiveThousandEntries) {
    ScratchFolder folder;
    for (const std::uint64_t count : {65534u, 65535u, 65536u}) {
        const std::string path = folder / ("many-" + std::to_string(count) + ".zip");
        {
            zip::Archive archive(path);
            char name[16];
            for (std::uint64_t i = 0; i < count; ++i) {
                std::snprintf(name, sizeof name, "d%02u/%05u", static_cast<unsigned>(i / 1000),
                              static_cast<unsigned>(i % 100000));
                archive.addEntry(name, zip::Entry::EntryType::file, 1, kTime, 0644, zip::CompressionMethod::none, 1,
                                 [i](std::uint64_t, unsigned char* destination, std::size_t) {
                                     destination[0] = static_cast<unsigned char>(i);
                                 });
            }
            archive.close();
        }
        const std::string bytes = readFile(path);
        const auto* end = reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size() - 22);
        ASSERT_EQ(zip::le::get32(end), 0x06054B50u);
        const std::uint64_t entrySize = 30 + 9 + 1;
        const std::uint64_t directorySize = count * (46 + 9);
        if (count < 65535) {
            EXPECT_EQ(zip::le::get16(end + 8), count);
            EXPECT_EQ(bytes.size(), count * entrySize + directorySize + 22);
            continue;
        }
        EXPECT_EQ(zip::le::get16(end + 8), 0xFFFF);
        EXPECT_EQ(zip::le::get16(end + 10), 0xFFFF);
        EXPECT_EQ(zip::le::get32(end + 12), directorySize);
        EXPECT_EQ(zip::le::get32(end + 16), count * entrySize);
        const auto* locator = end - 20;
        EXPECT_EQ(zip::le::get32(locator), 0x07064B50u);
        EXPECT_EQ(zip::le::get64(locator + 8), count * entrySize + directorySize);
        const auto* record = locator - 56;
        EXPECT_EQ(zip::le::get32(record), 0x06064B50u);
        EXPECT_EQ(zip::le::get64(record + 24), count);
        EXPECT_EQ(zip::le::get64(record + 32), count);
        if (count == 65536) {
            const auto listing = pythonListing(path, false);
            ASSERT_EQ(listing["names"].size(), count);
            EXPECT_EQ(listing["names"][65535], "d65/65535");
            EXPECT_TRUE(unzipAccepts(path));
        }
    }
}
