// Entries taken from real files: what independent readers see, byte identity with an archive
// rewritten after every entry, and what a failure leaves behind.

#include "support/ReferenceArchive.h"
#include "support/TestSupport.h"
#include "zip/Archive.h"
#include "zip/OutputFile.h"

#include <cstring>
#include <random>
#include <unistd.h>

using namespace testing_support;

namespace {

constexpr std::int64_t kTime = 1700000001;  // an odd second, 2023-11-14

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

}  // namespace

TEST(ArchiveFiles, MixedFilesMatchThePerEntryRewriteAndReadBack) {
    ScratchFolder folder;
    // Sizes around the point where an entry (6-byte name) no longer fits the write buffer with
    // its header and is streamed with its header patched afterwards.
    constexpr std::size_t capacity = zip::OutputFile::kCapacity, fits = capacity - 30 - 6;
    std::vector<reference::Item> items;
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{16383}, std::size_t{16384},
                                   std::size_t{16385}, fits - 1, fits, fits + 1, 3 * capacity + 17}) {
        const int index = static_cast<int>(items.size());
        items.push_back({"f" + std::to_string(100000 + index).substr(1), randomBytes(size, index), kTime + index, 0100640});
    }
    items.push_back({"Grüße/ünïcödé.txt", "hello", kTime, 0100600});
    items.push_back({"link-to-f00000", "f00000", kTime, 0120777, 0120000});
    items.push_back({"dangling", "no/such/target", kTime, 0120777, 0120000});

    const std::string source = folder / "src";
    ::mkdir(source.c_str(), 0755);
    ::mkdir((source + "/Grüße").c_str(), 0755);
    {
        zip::Archive archive(folder / "out.zip");
        for (const auto& item : items) {
            const std::string path = source + "/" + item.name;
            if (item.typeBits == 0120000) {
                ASSERT_EQ(::symlink(item.content.c_str(), path.c_str()), 0);
            } else {
                writeFile(path, item.content);
                ::chmod(path.c_str(), item.mode & 0777);
            }
            setModificationTime(path, item.modificationTime);
            archive.addEntry(item.name, path);
        }
        archive.close();
    }
    {
        reference::ReferenceArchive expected(folder / "expected.zip");
        for (const auto& item : items) expected.add(item);
    }
    ASSERT_EQ(readFile(folder / "out.zip"), readFile(folder / "expected.zip"));

    const auto listing = pythonListing(folder / "out.zip");
    ASSERT_EQ(listing["entries"].size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto& entry = listing["entries"][i];
        EXPECT_EQ(entry["name"], items[i].name);
        EXPECT_EQ(entry["size"], items[i].content.size());
        EXPECT_EQ(entry["mode"], items[i].mode);
        EXPECT_EQ(entry["date_time"][5], items[i].modificationTime % 60 / 2 * 2);  // odd seconds round down
    }
    EXPECT_EQ(listing["entries"][items.size() - 1]["data"], "no/such/target");
    expectUnzipAccepts(folder / "out.zip");
}

TEST(ArchiveFiles, FailuresLeaveNoTraceAndTheArchiveCarriesOn) {
    ScratchFolder folder;
    writeFile(folder / "taken.zip", "precious");
    try {
        zip::Archive archive(folder / "taken.zip");
        ADD_FAILURE() << "an existing file was replaced";
    } catch (const zip::ArchiveError& error) {
        EXPECT_EQ(error.kind(), zip::ArchiveError::Kind::unwritableArchive);
    }
    EXPECT_EQ(readFile(folder / "taken.zip"), "precious");

    writeFile(folder / "one", "first", kTime);
    writeFile(folder / "two", "second", kTime);
    zip::Archive archive(folder / "out.zip");
    archive.addEntry("one", folder / "one");
    // A missing file: a clear sentence naming it, nothing written.
    try {
        archive.addEntry("ghost", folder / "ghost.txt");
        ADD_FAILURE() << "a missing file was accepted";
    } catch (const zip::ArchiveError& error) {
        EXPECT_EQ(error.kind(), zip::ArchiveError::Kind::fileNotFound);
        EXPECT_STREQ(error.what(), "The file “ghost.txt” does not exist.");
    }
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
    {
        reference::ReferenceArchive expected(folder / "expected.zip");
        expected.add({"one", "first", kTime});
        expected.add({"two", "second", kTime});
    }
    EXPECT_EQ(readFile(folder / "out.zip"), readFile(folder / "expected.zip"));
}

TEST(ArchiveFiles, FifoIsStoredEmptyWithoutBlocking) {
    ScratchFolder folder;
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    zip::Archive archive(folder / "out.zip");
    archive.addEntry("pipe", folder / "pipe");
    archive.close();
    const auto entries = pythonListing(folder / "out.zip")["entries"];
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0]["size"], 0);
}
