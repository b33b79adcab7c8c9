// The on-disk layout: the 44-byte empty file, record boundaries around the chunk size, fresh
// nonces, progress, and files exchanged with an independent reader and writer.

#include "LocalFileProtectionTestSupport.h"

#include <QProcess>
#include <QStandardPaths>

using namespace lfp;
using LocalFileProtectionService::open;
using LocalFileProtectionService::protect;
using Kind = LocalFileProtectionError::Kind;

namespace {
const QByteArray headerBytes = QByteArray::fromHex("4B4F52564F4C4F43414C01");
}

TEST_F(LocalFileProtectionTest, EmptyInputSealsToThe44ByteLayoutAndOpensEmpty)
{
    const QByteArray sealed = seal({});
    ASSERT_EQ(sealed.size(), 44);
    EXPECT_EQ(sealed.left(11), headerBytes);
    EXPECT_EQ(static_cast<quint8>(sealed[11]), 0x01);                 // final flag
    EXPECT_EQ(sealed.mid(12, 4), QByteArray::fromHex("0000001C"));    // L = 28

    // The box itself (nonce, tag) is checked against the independent reader below.
    open(path("sealed.korvolocal"), path("opened"), testKey());
    EXPECT_TRUE(QFile::exists(path("opened")));
    EXPECT_EQ(QFileInfo(path("opened")).size(), 0);
}

TEST_F(LocalFileProtectionTest, RecordsSplitAtTheChunkSizeAndRoundTrip)
{
    struct Case {
        qsizetype size;
        std::vector<quint32> lengths; // sealed length of each record; only the last is final
    };
    const std::vector<Case> cases = {
        {1, {29}},
        {chunk - 1, {chunk - 1 + 28}},
        {chunk, {chunk + 28}},
        {chunk + 1, {chunk + 28, 29}},
        {2 * chunk - 1, {chunk + 28, chunk - 1 + 28}},
        {2 * chunk, {chunk + 28, chunk + 28}},
        {2 * chunk + 1, {chunk + 28, chunk + 28, 29}},
        {3 * chunk + 12345, {chunk + 28, chunk + 28, chunk + 28, 12345 + 28}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const QByteArray plain = pattern(c.size, static_cast<quint32>(c.size));
        const QByteArray sealed = seal(plain);
        const auto records = parseRecords(sealed);
        ASSERT_EQ(records.size(), c.lengths.size());
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].sealedLength, c.lengths[i]) << "record " << i;
            EXPECT_EQ(records[i].flag, i + 1 == records.size() ? 0x01 : 0x00) << "record " << i;
        }
        EXPECT_EQ(records.back().end(), sealed.size());

        open(path("sealed.korvolocal"), path("opened"), testKey());
        EXPECT_TRUE(readFile(path("opened")) == plain);
    }
}

TEST_F(LocalFileProtectionTest, SealingTwiceGivesDifferentFilesThatOpenAlike)
{
    const QByteArray plain = pattern(chunk + 100);
    const QByteArray first = seal(plain);
    const QByteArray second = seal(plain);
    ASSERT_EQ(first.size(), second.size());
    EXPECT_NE(first, second);
    const auto a = parseRecords(first), b = parseRecords(second);
    for (size_t i = 0; i < a.size(); ++i)   // every record has its own nonce
        EXPECT_NE(first.mid(a[i].offset + 5, 12), second.mid(b[i].offset + 5, 12));

    writeFile(path("first.korvolocal"), first);
    open(path("first.korvolocal"), path("first.out"), testKey());
    open(path("sealed.korvolocal"), path("second.out"), testKey());
    EXPECT_TRUE(readFile(path("first.out")) == plain);
    EXPECT_TRUE(readFile(path("second.out")) == plain);
}

TEST_F(LocalFileProtectionTest, ProgressCountsUpToTheInputSize)
{
    const QByteArray plain = pattern(5 * chunk + 7);
    writeFile(path("big"), plain);
    std::vector<std::pair<qint64, qint64>> calls;
    protect(path("big"), path("big.korvolocal"), testKey(), [&](qint64 done, qint64 total) {
        calls.emplace_back(done, total);
    });
    ASSERT_FALSE(calls.empty());
    for (size_t i = 1; i < calls.size(); ++i)
        EXPECT_GE(calls[i].first, calls[i - 1].first);
    EXPECT_EQ(calls.back(), std::make_pair(qint64(plain.size()), qint64(plain.size())));

    calls.clear();
    open(path("big.korvolocal"), path("big.out"), testKey(), [&](qint64 done, qint64 total) {
        calls.emplace_back(done, total);
    });
    const qint64 sealedSize = QFileInfo(path("big.korvolocal")).size();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), std::make_pair(sealedSize, sealedSize));
}

// Files written by a reader and writer made from the format table alone (Python, cryptography).
class IndependentReaderTest : public LocalFileProtectionTest {
protected:
    void SetUp() override
    {
        m_python = QStandardPaths::findExecutable("python3");
        if (m_python.isEmpty())
            GTEST_SKIP() << "python3 is not installed";
        if (reference("open", "/nonexistent", "/nonexistent") == 4)
            GTEST_SKIP() << "the Python cryptography package is not installed";
    }

    int reference(const QString& command, const QString& input, const QString& output)
    {
        QProcess process;
        process.start(m_python, {QStringLiteral(KORVO_SOURCE_DIR "/tests/e2e/korvolocal_reference.py"), command,
                                 QString::fromLatin1(testKey().toHex()), input, output});
        if (!process.waitForFinished(120000))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QString m_python;
};

TEST_F(IndependentReaderTest, FilesCrossBetweenTheEngineAndTheReference)
{
    for (const qsizetype size : {qsizetype(0), qsizetype(1), chunk, chunk + 1, 2 * chunk + chunk / 2}) {
        SCOPED_TRACE(size);
        const QByteArray plain = pattern(size, 99);
        writeFile(path("plain"), plain);

        protect(path("plain"), path("ours.korvolocal"), testKey());
        ASSERT_EQ(reference("open", path("ours.korvolocal"), path("ours.out")), 0);
        EXPECT_TRUE(readFile(path("ours.out")) == plain);

        ASSERT_EQ(reference("seal", path("plain"), path("theirs.korvolocal")), 0);
        open(path("theirs.korvolocal"), path("theirs.out"), testKey());
        EXPECT_TRUE(readFile(path("theirs.out")) == plain);
    }
}

TEST_F(IndependentReaderTest, ReferenceRejectsWhatTheEngineRejects)
{
    // A sanity check of the reference itself, so its acceptance above means something.
    QByteArray sealed = seal(pattern(chunk + 1));
    sealed[sealed.size() - 1] = static_cast<char>(sealed[sealed.size() - 1] ^ 1);
    writeFile(path("bad.korvolocal"), sealed);
    EXPECT_EQ(reference("open", path("bad.korvolocal"), path("bad.out")), 3);
    expectError(Kind::invalidFile, invalidSentence, [&] { open(path("bad.korvolocal"), path("bad.out"), testKey()); });
}
