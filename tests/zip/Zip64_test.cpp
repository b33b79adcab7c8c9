// ZIP64: the thresholds swept through lowered limits, then the entry-count threshold for real.

#include "support/TestSupport.h"
#include "zip/Archive.h"

using namespace testing_support;

namespace {

constexpr std::int64_t kTime = 1600000000;
constexpr std::uint64_t k32 = 0xFFFFFFFF;

// Writes entries with these names and contents under the limits, has `unzip -t` accept the
// archive and returns it as Python's zipfile reads it.
nlohmann::json writeAndRead(const std::string& path, const std::vector<std::pair<std::string, std::string>>& items,
                            zip::Limits limits) {
    SCOPED_TRACE(path);
    {
        zip::Archive archive(path, limits);
        for (const auto& [name, content] : items)
            archive.addEntry(name, zip::Entry::EntryType::file, content.size(), kTime, 0644,
                             zip::CompressionMethod::none, 16384, contentOf(content));
        archive.close();
    }
    expectUnzipAccepts(path);
    auto listing = pythonListing(path);
    EXPECT_EQ(listing["entries"].size(), items.size());
    return listing;
}

std::vector<std::pair<std::string, std::string>> itemsOfSizes(const std::vector<std::size_t>& sizes) {
    std::vector<std::pair<std::string, std::string>> items;
    for (std::size_t i = 0; i < sizes.size(); ++i)
        items.emplace_back("entry-" + std::to_string(i), std::string(sizes[i], static_cast<char>('a' + i)));
    return items;
}

}  // namespace

TEST(Zip64, EntrySizeThresholdSweep) {
    ScratchFolder folder;
    // Limit 1000: sizes just below and at it in the small path, above it in the streamed path.
    const auto listing = writeAndRead(folder / "sizes.zip", itemsOfSizes({999, 1000, 3 << 20}), {1000, 0xFFFF});
    nlohmann::json seen = nlohmann::json::array();   // version needed, size, compressed size
    for (const auto& entry : listing["entries"]) seen.push_back({entry["needed"], entry["size"], entry["compressed"]});
    EXPECT_EQ(seen, nlohmann::json::parse("[[20, 999, 999], [45, 1000, 1000], [45, 3145728, 3145728]]"));
    EXPECT_EQ(listing["entries"][1]["extra"], "01001800e803000000000000e8030000000000000c04000000000000");  // sizes, offset 1036

    // Its local header: both size fields are sentinels, and a 20-byte extra field (ID 1,
    // 16 bytes) carries both sizes.
    const std::string bytes = readFile(folder / "sizes.zip");
    const std::size_t offset = listing["entries"][1]["offset"];
    EXPECT_EQ(bytes.substr(offset + 18, 12), std::string(8, '\xFF') + std::string("\x07\0\x14\0", 4));
    EXPECT_EQ(bytes.substr(offset + 37, 20), std::string("\x01\0\x10\0\xE8\x03\0\0\0\0\0\0\xE8\x03\0\0\0\0\0\0", 20));
}

TEST(Zip64, OffsetAndDirectorySizeThresholds) {
    ScratchFolder folder;
    // Entries of 137 bytes (30 + 7 + 100) under a limit of 274: the third local header sits
    // exactly at the limit, so from there on the central headers carry the offset alone.
    const auto listing = writeAndRead(folder / "offsets.zip", itemsOfSizes(std::vector<std::size_t>(5, 100)), {274, 0xFFFF});
    nlohmann::json seen = nlohmann::json::array();   // version needed, extra field: ID 1, 8 bytes, offset
    for (const auto& entry : listing["entries"]) seen.push_back({entry["needed"], entry["extra"]});
    EXPECT_EQ(seen, nlohmann::json::parse(R"([[20, ""], [20, ""], [20, "010008001201000000000000"],
        [20, "010008009b01000000000000"], [20, "010008002402000000000000"]])"));
    EXPECT_EQ(listing["entries"][2]["offset"], 274);
    EXPECT_EQ(listing["eocd"]["offset"], k32);
    // Five central headers of 46 + 7 bytes, three of them with 12 bytes of extra field.
    EXPECT_EQ(listing["zip64"], nlohmann::json::parse(R"({"length": 44, "needed": 45, "count": 5, "total": 5, "size": 301,
        "offset": 685, "disks": 1, "record_offset": 986})"));

    // The directory size alone reaching the limit (3 × (46 + 60) = 318), the offset (270) not.
    std::vector<std::pair<std::string, std::string>> named;
    for (const char c : {'p', 'q', 'r'}) named.emplace_back(std::string(60, c), "");
    for (const std::uint64_t limit : {318u, 319u}) {
        SCOPED_TRACE(limit);
        const auto sized = writeAndRead(folder / ("dirsize-" + std::to_string(limit) + ".zip"), named, {limit, 0xFFFF});
        EXPECT_EQ(sized.contains("zip64"), limit == 318);
        EXPECT_EQ(sized["eocd"]["size"], limit == 318 ? k32 : 318u);
        EXPECT_EQ(sized["eocd"]["offset"], 270);
    }
}

// The entry count, for real: one entry short of the 16-bit field's sentinel, and at it.
TEST(Zip64, SixtyFiveThousandEntries) {
    ScratchFolder folder;
    for (const std::uint64_t count : {65534u, 65535u}) {
        SCOPED_TRACE(count);
        const std::string path = folder / ("many-" + std::to_string(count) + ".zip");
        {
            zip::Archive archive(path);
            char name[16];
            for (std::uint64_t i = 0; i < count; ++i) {
                std::snprintf(name, sizeof name, "d%02u/%05u", static_cast<unsigned>(i / 1000), static_cast<unsigned>(i % 100000));
                archive.addEntry(name, zip::Entry::EntryType::file, 1, kTime, 0644, zip::CompressionMethod::none, 1,
                                 [i](std::uint64_t, unsigned char* destination, std::size_t) { destination[0] = i; });
            }
            archive.close();
        }
        const std::uint64_t entries = count * (30 + 9 + 1), directory = count * (46 + 9);
        const bool zip64 = count >= 65535;
        const auto listing = pythonListing(path, false);
        ASSERT_EQ(listing["names"].size(), count);
        EXPECT_EQ(listing["names"][count - 1], "d" + std::to_string((count - 1) / 1000) + "/" + std::to_string(count - 1));
        EXPECT_EQ(listing["length"], entries + directory + 22 + (zip64 ? 56 + 20 : 0));
        const std::uint64_t shown = zip64 ? 0xFFFF : count;
        EXPECT_EQ(listing["eocd"], (nlohmann::json{{"count", shown}, {"total", shown}, {"size", directory}, {"offset", entries}}));
        ASSERT_EQ(listing.contains("zip64"), zip64);
        if (zip64) {
            EXPECT_EQ(listing["zip64"], (nlohmann::json{{"length", 44}, {"needed", 45}, {"count", count}, {"total", count},
                {"size", directory}, {"offset", entries}, {"disks", 1}, {"record_offset", entries + directory}}));
            expectUnzipAccepts(path);
        }
    }
}
