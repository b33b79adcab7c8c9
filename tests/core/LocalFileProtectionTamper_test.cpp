// Every way of changing a protected file must fail to open with invalidFile and its sentence,
// and leave nothing behind: no output, no temporary file.

#include "LocalFileProtectionTestSupport.h"

#include <set>

using namespace lfp;
using LocalFileProtectionService::open;
using Kind = LocalFileProtectionError::Kind;

namespace {

class TamperTest : public LocalFileProtectionTest {
protected:
    void SetUp() override
    {
        m_plain = pattern(2 * chunk + 1000);
        m_sealed = seal(m_plain);
        m_records = parseRecords(m_sealed);
        ASSERT_EQ(m_records.size(), 3u);
        QFile::remove(path("plain.in"));
    }

    // Opens the changed bytes: invalidFile, and the folder holds only the tampered file.
    void expectRejected(const QByteArray& tampered, const std::string& what, const QByteArray& key = testKey())
    {
        SCOPED_TRACE(what);
        QFile::remove(path("sealed.korvolocal"));
        writeFile(path("tampered.korvolocal"), tampered);
        expectError(Kind::invalidFile, invalidSentence,
                    [&] { open(path("tampered.korvolocal"), path("opened"), key); });
        EXPECT_EQ(entriesOf(folder()), QStringList{"tampered.korvolocal"});
    }

    QByteArray record(int i) const { return recordBytes(m_sealed, m_records[i]); }
    QByteArray header() const { return m_sealed.left(11); }

    QByteArray m_plain, m_sealed;
    std::vector<Record> m_records;
};

QByteArray withByte(QByteArray bytes, qsizetype at, char value)
{
    bytes[at] = value;
    return bytes;
}

} // namespace

TEST_F(TamperTest, RecordsMovedRepeatedOrDroppedAreRejected)
{
    expectRejected(header() + record(1) + record(0) + record(2), "first two swapped");
    expectRejected(header() + record(0) + record(0) + record(1) + record(2), "first repeated");
    expectRejected(header() + record(0) + record(1) + record(1) + record(2), "middle repeated");
    expectRejected(header() + record(0) + record(1), "last dropped");
    expectRejected(header() + record(0) + record(2), "middle dropped");
    expectRejected(header() + record(2), "only the last kept");
    expectRejected(header(), "header alone");
    // A record's flag is bound to it: relabelling cannot make a shorter file look complete.
    expectRejected(header() + record(0) + withByte(record(1), 0, 0x01), "last dropped, new last flagged final");
    expectRejected(withByte(m_sealed, m_records[0].offset, 0x01), "first flagged final");
    expectRejected(withByte(m_sealed, m_records[2].offset, 0x00), "last flagged as followed");
    expectRejected(withByte(m_sealed, m_records[1].offset, 0x02), "flag neither 0 nor 1");
}

TEST_F(TamperTest, HeaderChangesAreRejected)
{
    expectRejected(withByte(m_sealed, 10, 0x02), "version 0x02");
    expectRejected(withByte(m_sealed, 10, 0x00), "version 0x00");
    for (int i = 0; i < 10; ++i)
        expectRejected(withByte(m_sealed, i, static_cast<char>(m_sealed[i] ^ 0x20)), "magic byte " + std::to_string(i));
    expectRejected(m_sealed.mid(1), "first byte missing");
    expectRejected(QByteArray(), "empty file");
}

TEST_F(TamperTest, BytesAddedOrChangedAreRejected)
{
    expectRejected(m_sealed + QByteArray(1, '\0'), "one byte appended");
    expectRejected(m_sealed + record(2), "last record appended again");
    const Record& middle = m_records[1];
    const qsizetype box = middle.offset + 5;
    for (const auto& [at, what] : std::vector<std::pair<qsizetype, std::string>>{
             {box, "nonce"}, {box + 12, "first ciphertext byte"}, {box + 12 + chunk / 2, "inner ciphertext byte"},
             {middle.end() - 16, "tag"}, {middle.end() - 1, "last tag byte"}})
        expectRejected(withByte(m_sealed, at, static_cast<char>(m_sealed[at] ^ 0x01)), what);
    expectRejected(m_sealed, "another key", testKey(42));
}

TEST_F(TamperTest, LengthFieldsOutOfRangeAreRejected)
{
    auto withLength = [&](int i, quint32 length) {
        QByteArray bytes = m_sealed;
        for (int b = 0; b < 4; ++b)
            bytes[m_records[i].offset + 1 + b] = static_cast<char>(length >> (24 - 8 * b));
        return bytes;
    };
    expectRejected(withLength(0, 0), "length 0");
    expectRejected(withLength(0, chunk + 65), "length above the largest record");
    expectRejected(withLength(0, 0xFFFFFFFF), "length 2^32-1");
    expectRejected(withLength(0, m_records[0].sealedLength - 1), "length one short");
    expectRejected(withLength(2, m_records[2].sealedLength + 1), "last length one long");
    // Boxes too short to hold a nonce and a tag, marked last so framing alone cannot reject them.
    for (const quint32 length : {1u, 12u, 27u})
        expectRejected(header() + QByteArray(1, '\x01') + QByteArray::fromHex("000000") + QByteArray(1, char(length))
                           + QByteArray(length, 'x'),
                       "short box " + std::to_string(length));
}

TEST_F(TamperTest, TruncationAtEveryBoundaryIsRejected)
{
    std::set<qsizetype> cuts;
    for (qsizetype i = 0; i <= 16; ++i)
        cuts.insert(i); // inside and right after the header, inside the first prefix and nonce
    for (const Record& r : m_records) {
        for (const qsizetype at : {r.offset, r.offset + 1, r.offset + 4, r.offset + 5, r.offset + 17,
                                   r.end() - 16, r.end() - 1})
            cuts.insert(at);
    }
    cuts.erase(m_sealed.size());
    for (const qsizetype at : cuts)
        expectRejected(m_sealed.left(at), "cut at " + std::to_string(at));
}
