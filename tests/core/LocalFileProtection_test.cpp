// The local protected format: its layout, every way of changing a protected file, and failures
// that change nothing (the earlier output survives, no partial or temporary file is left).

#include "core/LocalFileProtectionService.h"
#include "core/Cancellation.h"
#include "core/local/FileIo.h"
#include "fixtures/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <set>
#include <thread>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>

using LocalFileProtectionService::open;
using LocalFileProtectionService::protect;
using Kind = LocalFileProtectionError::Kind;
using Found = LocalFileProtectionError::Found;

namespace {

constexpr qsizetype chunk = 1'048'576;
const char* const invalidSentence = "This file was not protected on this computer, or it has been changed.";
const char* const unreadableSentence = "The selected file could not be read.";
const char* const writeFailedSentence = "The protected file could not be saved.";
const QByteArray earlier = "the file that was here before";

QByteArray testKey(char seed = 7)
{
    QByteArray key(32, '\0');
    for (int i = 0; i < key.size(); ++i)
        key[i] = static_cast<char>(seed * 31 + i * 17);
    return key;
}

// Bytes that differ from one position to the next and never repeat with a 1 MiB period.
QByteArray pattern(qsizetype size, quint32 seed = 1)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = seed * 2654435761u + 1;
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((state = state * 1664525u + 1013904223u) >> 24);
    return bytes;
}

using testfiles::readFile;
using testfiles::writeFile;

// A record as found in a protected file, parsed without the engine: flag, 4-byte length, box.
struct Record {
    quint8 flag;
    qsizetype offset;   // of the flag byte
    quint32 sealedLength;
    qsizetype end() const { return offset + 5 + sealedLength; }
};

std::vector<Record> parseRecords(const QByteArray& file)
{
    std::vector<Record> records;
    for (qsizetype at = 11; at + 5 <= file.size(); at = records.back().end())
        records.push_back({static_cast<quint8>(file[at]), at, qFromBigEndian<quint32>(file.constData() + at + 1)});
    return records;
}

// Fails the test unless call throws the given kind with its exact sentence (and finding).
void expectError(Kind kind, const char* sentence, const std::function<void()>& call, std::optional<Found> found = {})
{
    if (const auto error = testfiles::thrown<LocalFileProtectionError>(call)) {
        EXPECT_EQ(std::tuple(error->kind(), error->message().toStdString(), error->found()),
                  std::tuple(kind, std::string(sentence), found.value_or(error->found())));
    }
}

// Names in a folder, hidden ones included: temporary files must never be left behind.
QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

class LocalFileProtectionTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString folder() const { return m_dir.path(); }

    // "plain", its sealed copy "sealed", and the earlier file at "out".
    void prepareFiles(qsizetype size)
    {
        writeFile(path("plain"), pattern(size));
        protect(path("plain"), path("sealed"), testKey());
        writeFile(path("out"), earlier);
    }

    QTemporaryDir m_dir;
};

// Every record of every file gets a nonce of its own (the same one twice would be a fixed or
// counted nonce restarting per file). Progress ends at the size being read.
TEST_F(LocalFileProtectionTest, RecordsSplitAtTheChunkSizeWithFreshNoncesAndRoundTrip)
{
    std::set<QByteArray> nonces;
    std::vector<std::pair<qint64, qint64>> calls;
    const auto record = [&](qint64 done, qint64 total) { calls.emplace_back(done, total); };
    const auto expectProgressTo = [&](qint64 size) {
        EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end()));
        EXPECT_EQ((calls.empty() ? std::pair<qint64, qint64>() : calls.back()), std::pair(size, size));
        calls.clear();
    };
    const std::vector<std::pair<qsizetype, std::vector<quint32>>> cases = {
        // input size, sealed length of each record (only the last is final)
        {0, {28}},   // the 44-byte empty file
        {1, {29}},                                           // a short last record
        {chunk, {chunk + 28}},                               // a full last record: nothing follows
        {5 * chunk + 1, {chunk + 28, chunk + 28, chunk + 28, chunk + 28, chunk + 28, 29}},
    };
    for (const auto& [size, lengths] : cases) {
        SCOPED_TRACE(size);
        const QByteArray plain = pattern(size, static_cast<quint32>(size));
        writeFile(path("plain"), plain);
        protect(path("plain"), path("sealed"), testKey(), record);
        expectProgressTo(size);
        const QByteArray sealed = readFile(path("sealed"));
        EXPECT_EQ(sealed.left(11), QByteArray::fromHex("4B4F52564F4C4F43414C01"));
        const auto records = parseRecords(sealed);
        ASSERT_EQ(records.size(), lengths.size());
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].sealedLength, lengths[i]) << "record " << i;
            EXPECT_EQ(records[i].flag, i + 1 == records.size() ? 0x01 : 0x00) << "record " << i;
            EXPECT_TRUE(nonces.insert(sealed.mid(records[i].offset + 5, 12)).second) << "nonce reused, record " << i;
        }
        EXPECT_EQ(records.back().end(), sealed.size());

        QFile::remove(path("opened"));
        open(path("sealed"), path("opened"), testKey(), record);
        expectProgressTo(sealed.size());
        EXPECT_TRUE(QFile::exists(path("opened")) && readFile(path("opened")) == plain);
    }
}

// A file sealed elsewhere from the layout in LocalFormat.h alone (nonce 01..0c, plain "korvo",
// associated data: header, index 0, final flag) opens: the format as written down, not as made.
TEST_F(LocalFileProtectionTest, AFileWrittenFromTheLayoutAloneOpens)
{
    writeFile(path("known.korvolocal"), QByteArray::fromHex("4b4f52564f4c4f43414c0101000000210102030405060708090a0b0c"
                                                            "fcb8da5e8facd1823fa99cd852a6a29d67f67ad174"));
    open(path("known.korvolocal"), path("known.out"), testKey());
    EXPECT_EQ(readFile(path("known.out")), "korvo");
}

// Tampering: always invalidFile with its sentence, and nothing left behind.
TEST_F(LocalFileProtectionTest, EveryChangeIsRejected)
{
    prepareFiles(2 * chunk + 1000);
    const QByteArray sealed = readFile(path("sealed")), header = sealed.left(11);
    for (const char* name : {"plain", "sealed", "out"})
        QFile::remove(path(name));
    const auto records = parseRecords(sealed);
    ASSERT_EQ(records.size(), 3u);
    const Record& last = records[2];
    const auto record = [&](int i) { return sealed.mid(records[i].offset, records[i].end() - records[i].offset); };
    const auto withByte = [](QByteArray bytes, qsizetype at, char value) { return bytes[at] = value, bytes; };
    const auto flipped = [&](qsizetype at) { return withByte(sealed, at, sealed[at] ^ 0x01); };
    const auto withLength = [&](int i, quint32 length) {
        QByteArray bytes = sealed;
        qToBigEndian(length, bytes.data() + records[i].offset + 1);
        return bytes;
    };
    const struct {
        QByteArray bytes;
        const char* what;
        Found found = Found::protectedFile;   // what the first bytes make of it
    } cases[] = {
        {header + record(1) + record(0) + record(2), "first two swapped"},   // the index is bound
        {header + record(0) + record(1), "last dropped"},
        // A record's flag is bound to it: relabelling cannot make a shorter file look complete.
        {header + record(0) + withByte(record(1), 0, 0x01), "last dropped, new last flagged final"},
        {withByte(sealed, records[1].offset, 0x02), "flag neither 0 nor 1"},
        {withByte(sealed, 10, 0x02), "version 0x02"},
        {QByteArray(), "empty file", Found::otherFile},
        {QByteArray("PK\x03\x04", 4) + sealed, "a zip archive", Found::otherFile},
        {"KORVOACCT\x01" + sealed.mid(10), "locked for an account", Found::accountFile},
        {sealed + QByteArray(1, '\0'), "one byte appended"},
        {flipped(records[1].offset + 5 + 12 + chunk / 2), "inner ciphertext byte"},
        // A box too short to hold a nonce and a tag, marked last so framing alone cannot reject it.
        {header + QByteArray::fromHex("010000001B") + QByteArray(27, 'x'), "box of 27 bytes"},
        {withLength(0, chunk + 65), "length above the largest record"},
        {withLength(0, records[0].sealedLength - 1), "length one short"},
        {withLength(2, last.sealedLength + 1), "last length one long"},
        {sealed.left(5), "cut inside the header"},
        {sealed.left(last.offset + 3), "cut inside a record's prefix"},
        {sealed.left(last.end() - 1), "cut inside a box"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(path("tampered.korvolocal"), c.bytes);
        expectError(Kind::invalidFile, invalidSentence, [&] { open(path("tampered.korvolocal"), path("opened"), testKey()); },
                    c.found);
        EXPECT_EQ(entriesOf(folder()), QStringList{"tampered.korvolocal"});
    }
}

TEST_F(LocalFileProtectionTest, SavingOverTheInputItself)
{
    const QByteArray plain = pattern(2 * chunk + 17);
    writeFile(path("doc"), plain);
    protect(path("doc"), path("doc"), testKey());
    const QByteArray sealed = readFile(path("doc"));
    // A failed open over itself (wrong key) keeps the protected file whole.
    expectError(Kind::invalidFile, invalidSentence, [&] { open(path("doc"), path("doc"), testKey(3)); });
    EXPECT_TRUE(readFile(path("doc")) == sealed);
    open(path("doc"), path("doc"), testKey());
    EXPECT_TRUE(readFile(path("doc")) == plain);
    EXPECT_EQ(entriesOf(folder()), QStringList{"doc"});   // nothing left beside it
}

TEST_F(LocalFileProtectionTest, FullDeviceOrCancellingKeepsEverything)
{
    prepareFiles(6 * chunk);
    const QByteArray plain = readFile(path("plain")), sealed = readFile(path("sealed"));
    // Every write beyond 2 MiB fails, as on a full device (onto another path: tests/faults).
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit lowered{2 * chunk, saved.rlim_max};
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &lowered);
    expectError(Kind::writeFailed, writeFailedSentence, [&] { open(path("sealed"), path("sealed"), testKey()); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    struct Cancelled {};
    auto cancelAtOnce = [](qint64, qint64) { throw Cancelled{}; };
    EXPECT_THROW(protect(path("plain"), path("out"), testKey(), cancelAtOnce), Cancelled);
    EXPECT_THROW(open(path("sealed"), path("out"), testKey(), cancelAtOnce), Cancelled);
    // The application's cancel: requested from another thread while the workers run.
    for (const bool sealing : {true, false}) {
        Cancellation cancel;
        const auto cancelOnProgress = [&](qint64 done, qint64) {
            if (done == 0)
                return;
            // The output being written has no name: not even a killed process could leave it.
            EXPECT_EQ(entriesOf(folder()), (QStringList{"out", "plain", "sealed"}));
            std::thread([&] { cancel.request(); }).join();
        };
        EXPECT_THROW(sealing ? protect(path("plain"), path("out"), testKey(), cancelOnProgress, &cancel)
                             : open(path("sealed"), path("out"), testKey(), cancelOnProgress, &cancel),
                     OperationCancelled);
    }

    EXPECT_EQ(readFile(path("out")), earlier);
    EXPECT_TRUE(readFile(path("sealed")) == sealed);
    EXPECT_TRUE(readFile(path("plain")) == plain);
    EXPECT_EQ(entriesOf(folder()), (QStringList{"out", "plain", "sealed"}));
}

TEST_F(LocalFileProtectionTest, UnreadableInputOutputThatCannotBeCreatedOrAWrongKeySize)
{
    prepareFiles(100);
    QDir(folder()).mkdir("existing-folder");
    writeFile(path("existing-folder/keep"), earlier);
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("a-pipe")).constData(), 0600), 0);
    for (const QString& input : {path("missing"), path("a-pipe")}) {   // not there; not a regular file
        SCOPED_TRACE(input.toStdString());
        expectError(Kind::unreadableFile, unreadableSentence, [&] { protect(input, path("out"), testKey()); });
        expectError(Kind::unreadableFile, unreadableSentence, [&] { open(input, path("out"), testKey()); });
    }
    // A place that cannot be created, and a folder, which is never replaced by a file.
    for (const QString& output : {path("no-such-folder/out"), path("existing-folder")}) {
        SCOPED_TRACE(output.toStdString());
        expectError(Kind::writeFailed, writeFailedSentence, [&] { protect(path("plain"), output, testKey()); });
        expectError(Kind::writeFailed, writeFailedSentence, [&] { open(path("sealed"), output, testKey()); });
    }
    // Told not to replace, a file found at the output when the result is ready stays.
    for (const bool sealing : {true, false}) {
        const auto error = testfiles::thrown<LocalFileProtectionError>([&] {
            sealing ? protect(path("plain"), path("out"), testKey(), {}, nullptr, false)
                    : open(path("sealed"), path("out"), testKey(), {}, nullptr, false);
        });
        EXPECT_EQ(std::pair(error.value().kind(), error.value().errorNumber()), std::pair(Kind::writeFailed, EEXIST));
    }
    for (const QByteArray& key : {QByteArray(), QByteArray(16, 'k'), QByteArray(33, 'k')}) {
        expectError(Kind::writeFailed, writeFailedSentence, [&] { protect(path("plain"), path("out"), key); });
        expectError(Kind::invalidFile, invalidSentence, [&] { open(path("sealed"), path("out"), key); });
    }
    EXPECT_EQ(readFile(path("out")), earlier);
    EXPECT_EQ(entriesOf(path("existing-folder")), QStringList{"keep"});
    EXPECT_EQ(entriesOf(folder()), (QStringList{"a-pipe", "existing-folder", "out", "plain", "sealed"}));
}

// Where a file system cannot make nameless files, a hidden name is renamed into place, and
// without replacing: never over a file that is there.
TEST_F(LocalFileProtectionTest, RenamingWithoutReplacingKeepsWhatIsThere)
{
    writeFile(path("new"), "new");
    writeFile(path("taken"), earlier);
    const FileHandle here(::open(QFile::encodeName(folder()).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    EXPECT_FALSE(renameWithoutReplacing(here.fd(), "new", here.fd(), "taken"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_TRUE(renameWithoutReplacing(here.fd(), "new", AT_FDCWD, QFile::encodeName(path("free")).constData()));
    EXPECT_EQ(readFile(path("taken")), earlier);
    EXPECT_EQ(readFile(path("free")), "new");
    EXPECT_EQ(entriesOf(folder()), (QStringList{"free", "taken"}));
}

} // namespace
