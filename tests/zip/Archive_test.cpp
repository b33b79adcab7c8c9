// What the writer puts in its archives: known-answer bytes, field-level checks, entries taken
// from real files and read back by independent readers, and what a failure leaves behind.

#include "support/TestSupport.h"
#include "zip/Archive.h"
#include "zip/ArchiveError.h"
#include "zip/DosDateTime.h"
#include "zip/OutputFile.h"

#include <cstdlib>
#include <cstring>
#include <random>
#include <unistd.h>

using namespace testing_support;

namespace {

constexpr std::int64_t kMarch15 = 1710510330;  // 2024-03-15 13:45:30 UTC
constexpr std::int64_t kTime = 1700000001;     // an odd second, 2023-11-14

std::string hex(std::string digits) {
    std::erase(digits, ' ');
    std::string out;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

void addBytes(zip::Archive& archive, const std::string& name, const std::string& content,
              zip::Entry::EntryType type = zip::Entry::EntryType::file, std::optional<std::uint16_t> permissions = {}) {
    archive.addEntry(name, type, content.size(), kMarch15, permissions, zip::CompressionMethod::none, 16384, contentOf(content));
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

}  // namespace

TEST(ArchiveFormat, KnownAnswerBytesWhetherClosedOrDropped) {
    ScratchFolder folder;
    zip::Archive(folder / "empty.zip").close();
    EXPECT_EQ(readFile(folder / "empty.zip"), hex("504B0506") + std::string(18, '\0'));

    const std::string expected =
        // local header: version 20, UTF-8 flag, stored, 13:45:30, 2024-03-15, CRC, sizes 3, name "a"
        hex("504B0304 1400 0008 0000 AF6D 6F58 C2412435 03000000 03000000 0100 0000 61") + "abc"
        // central directory header: made by 0x0315, external attributes 0100644 << 16, offset 0
        + hex("504B0102 1503 1400 0008 0000 AF6D 6F58 C2412435 03000000 03000000 0100 0000 0000 0000 0000"
              "0000A481 00000000 61")
        // end record: one entry, directory of 47 bytes at offset 34
        + hex("504B0506 0000 0000 0100 0100 2F000000 22000000 0000");
    for (const bool close : {true, false}) {
        SCOPED_TRACE(close ? "closed" : "left to the destructor");
        const std::string path = folder / (close ? "closed.zip" : "dropped.zip");
        {
            zip::Archive archive(path);
            addBytes(archive, "a", "abc");
            if (close) archive.close();
        }
        EXPECT_EQ(readFile(path), expected);
    }
    expectUnzipAccepts(folder / "dropped.zip");
}

TEST(ArchiveFormat, DosDateClampsTheYearAndUsesUtc) {
    const std::int64_t cases[][7] = {   // seconds; year, month, day, hour, minute, second
        {157766400, 1980, 1, 1, 0, 0, 0},        // 1975-01-01: year raised to 1980
        {-1, 1980, 12, 31, 23, 59, 58},          // 1969-12-31 23:59:59: only the year moves
        {4275806400, 2099, 6, 30, 12, 0, 0},     // 2105-06-30: year lowered to 2099
        {kMarch15, 2024, 3, 15, 13, 45, 30},
    };
    // A far-east zone must not move the calendar: the fields are UTC.
    const char* oldZone = std::getenv("TZ");
    const std::string saved = oldZone ? oldZone : "";
    ::setenv("TZ", "JST-9", 1);
    ::tzset();
    for (const auto& [seconds, year, month, day, hour, minute, second] : cases) {
        const zip::DosDateTime dos = zip::dosDateTime(seconds);
        EXPECT_EQ(dos.date, (year - 1980) * 512 + month * 32 + day) << seconds;
        EXPECT_EQ(dos.time, hour * 2048 + minute * 32 + second / 2) << seconds;
    }
    if (oldZone) ::setenv("TZ", saved.c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
}

TEST(ArchiveFormat, ExternalAttributesCarryTypeAndPermissions) {
    ScratchFolder folder;
    zip::Archive archive(folder / "modes.zip");
    addBytes(archive, "plain", "x", zip::Entry::EntryType::file, 0644);
    addBytes(archive, "link", "target/path", zip::Entry::EntryType::symlink, 0755);
    addBytes(archive, "folder", "", zip::Entry::EntryType::directory);
    archive.close();

    nlohmann::json seen = nlohmann::json::array(), listing = pythonListing(folder / "modes.zip");
    for (const auto& entry : listing["entries"])
        seen.push_back({entry["name"], entry["mode"], entry["data"], entry["low"], entry["made"], entry["system"]});
    EXPECT_EQ(seen, nlohmann::json::parse(R"([["plain", 33188, "x", 0, 21, 3], ["link", 41453, "target/path", 0, 21, 3],
        ["folder/", 16877, "", 0, 21, 3]])"));  // 0100644, 0120755, 040755 (a folder's default)
}

TEST(ArchiveFormat, NamesTheirUtf8FlagAndTheLengthLimit) {
    ScratchFolder folder;
    const std::string path = folder / "names.zip", utf8 = "Zürich/Łódź 東京 🙂.txt", longest(65535, 'n');
    // Names that are not UTF-8 (Latin-1, a cut sequence, an encoded surrogate) keep their bytes
    // without the UTF-8 flag: readers fall back to the legacy code page instead of refusing.
    const std::vector<std::pair<std::string, int>> names = {{utf8, 0x0800},           {"caf\xE9.txt", 0},
                                                            {"cut\xE2\x82", 0},       {"sur\xED\xA0\x80", 0},
                                                            {"..dots/a..b/...", 0x0800}, {longest, 0x0800}};
    {
        zip::Archive archive(path);
        for (const auto& [name, flag] : names) addBytes(archive, name, name);
        // One byte too long, or a name that would leave the folder the archive is unpacked into:
        // refused before anything is written, the archive carries on.
        const std::pair<std::string, zip::ArchiveError::Kind> refused[] = {
            {longest + "n", zip::ArchiveError::Kind::invalidEntryPath},
            {"/etc/passwd", zip::ArchiveError::Kind::unsafeEntryPath},
            {"../up", zip::ArchiveError::Kind::unsafeEntryPath},
            {"a/..", zip::ArchiveError::Kind::unsafeEntryPath},
        };
        for (const auto& [name, kind] : refused) {
            const auto error = thrown<zip::ArchiveError>([&, &name = name] { addBytes(archive, name, "never written"); });
            EXPECT_EQ(error ? error->kind() : zip::ArchiveError::Kind{}, kind) << name;
        }
    }
    const auto entries = pythonListing(path)["entries"];
    ASSERT_EQ(entries.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(entries[i]["flags"], names[i].second) << i;
    EXPECT_EQ(entries[0]["name"], utf8);
    EXPECT_EQ(entries[1]["name"], "caf\u0398.txt");  // 0xE9 read as code page 437
    EXPECT_EQ(entries[5]["name"].get<std::string>().size(), 65535u);
}

TEST(ArchiveFiles, MixedFilesReadBack) {
    ScratchFolder folder;
    struct Item {
        std::string name, content;
        std::int64_t time;
        unsigned mode;  // type bits included: 0120000 is a link to `content`, 010000 a FIFO
    };
    // Sizes around the point where an entry (6-byte name) no longer fits the write buffer with
    // its header and is streamed with its header patched afterwards.
    constexpr std::size_t capacity = zip::OutputFile::kCapacity, fits = capacity - 30 - 6;
    std::vector<Item> items;
    for (const std::size_t size : {std::size_t{0}, fits, fits + 1, 3 * capacity + 17}) {
        const int index = static_cast<int>(items.size());
        items.push_back({"f" + std::to_string(100000 + index).substr(1), randomBytes(size, index), kTime + index, 0100640});
    }
    items.push_back({"Grüße/ünïcödé.txt", "hello", kTime, 0100600});
    items.push_back({"link-to-f00000", "f00000", kTime, 0120777});
    items.push_back({"dangling", "no/such/target", kTime, 0120777});
    items.push_back({"pipe", "", kTime, 010600});   // stored as an empty regular file, without blocking

    const std::string source = folder / "src";
    ::mkdir(source.c_str(), 0755);
    ::mkdir((source + "/Grüße").c_str(), 0755);
    {
        zip::Archive archive(folder / "out.zip");
        for (const auto& item : items) {
            const std::string path = source + "/" + item.name;
            if (item.mode >> 12 == 012) {
                ASSERT_EQ(::symlink(item.content.c_str(), path.c_str()), 0);
            } else if (item.mode >> 12 == 01) {
                ASSERT_EQ(::mkfifo(path.c_str(), item.mode & 0777), 0);
            } else {
                writeFile(path, item.content);
                ::chmod(path.c_str(), item.mode & 0777);
            }
            setModificationTime(path, item.time);
            archive.addEntry(item.name, path);
        }
        archive.close();
    }
    // unzip -t also holds each local header (CRC and sizes patched after streaming) against
    // the directory; Python checks every CRC.
    expectUnzipAccepts(folder / "out.zip");
    const auto listing = pythonListing(folder / "out.zip");
    ASSERT_EQ(listing["entries"].size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto& entry = listing["entries"][i];
        EXPECT_EQ(entry["name"], items[i].name);
        EXPECT_EQ(entry["size"], items[i].content.size());
        EXPECT_EQ(entry["mode"], items[i].mode >> 12 == 01 ? 0100000 | (items[i].mode & 0777) : items[i].mode);
        EXPECT_EQ(entry["date_time"][5], items[i].time % 60 / 2 * 2);  // odd seconds round down
    }
    EXPECT_EQ(listing["entries"][items.size() - 2]["data"], "no/such/target");
}

TEST(ArchiveFiles, FailuresLeaveNoTraceAndTheArchiveCarriesOn) {
    ScratchFolder folder;
    writeFile(folder / "taken.zip", "precious");
    const auto taken = thrown<zip::ArchiveError>([&] { zip::Archive archive(folder / "taken.zip"); });
    EXPECT_TRUE(taken && taken->kind() == zip::ArchiveError::Kind::unwritableArchive);
    EXPECT_EQ(readFile(folder / "taken.zip"), "precious");

    writeFile(folder / "one", "first", kTime);
    writeFile(folder / "two", "second", kTime);
    zip::Archive archive(folder / "out.zip");
    archive.addEntry("one", folder / "one");
    // A missing file, nothing written (its sentence is checked where file preparation passes it on).
    const auto ghost = thrown<zip::ArchiveError>([&] { archive.addEntry("ghost", folder / "ghost.txt"); });
    EXPECT_TRUE(ghost && ghost->kind() == zip::ArchiveError::Kind::fileNotFound);
    // A content source failing part-way, in a small entry and in a streamed one after a flush.
    for (const std::size_t size : {std::size_t{5000}, 2 * zip::OutputFile::kCapacity}) {
        auto failing = [size](std::uint64_t position, unsigned char* destination, std::size_t length) {
            if (position + length > size / 2) throw zip::ArchiveError(zip::ArchiveError::Kind::unreadableFile, "half");
            std::memset(destination, 'z', length);
        };
        EXPECT_THROW(archive.addEntry("broken", zip::Entry::EntryType::file, size, kTime, 0644,
                                      zip::CompressionMethod::none, 65536, failing),
                     zip::ArchiveError);
    }
    // A method this writer does not produce.
    EXPECT_THROW(archive.addEntry("deflated", folder / "two", zip::CompressionMethod::deflate), zip::ArchiveError);

    archive.addEntry("two", folder / "two");
    archive.close();
    EXPECT_THROW(archive.addEntry("late", folder / "two"), zip::ArchiveError);
    // Byte for byte the archive written without the failures.
    {
        zip::Archive clean(folder / "clean.zip");
        clean.addEntry("one", folder / "one");
        clean.addEntry("two", folder / "two");
    }
    EXPECT_EQ(readFile(folder / "out.zip"), readFile(folder / "clean.zip"));
}
