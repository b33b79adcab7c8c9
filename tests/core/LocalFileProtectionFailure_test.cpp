// Failures change nothing: the earlier file at the output path survives, no partial or
// temporary file is left, and saving over the input never loses the input.

#include "LocalFileProtectionTestSupport.h"

#include <QFileInfo>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lfp;
using LocalFileProtectionService::open;
using LocalFileProtectionService::protect;
using Kind = LocalFileProtectionError::Kind;

namespace {

const QByteArray earlier = "the file that was here before";

// Makes every write beyond limit bytes fail, as on a full device, for the lifetime of the object.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

} // namespace

TEST_F(LocalFileProtectionTest, UnreadableInputsKeepTheEarlierOutput)
{
    writeFile(path("out"), earlier);
    QDir(folder()).mkdir("a-folder");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("a-pipe")).constData(), 0600), 0);
    for (const QString& input : {path("missing"), path("a-folder"), path("a-pipe"), QString()}) {
        SCOPED_TRACE(input.toStdString());
        expectError(Kind::unreadableFile, unreadableSentence, [&] { protect(input, path("out"), testKey()); });
        expectError(Kind::unreadableFile, unreadableSentence, [&] { open(input, path("out"), testKey()); });
        EXPECT_EQ(readFile(path("out")), earlier);
    }
    EXPECT_EQ(entriesOf(folder()), (QStringList{"a-folder", "a-pipe", "out"}));
}

TEST_F(LocalFileProtectionTest, FailedOpenKeepsTheEarlierOutputAndLeavesNoPartialFile)
{
    // The first records are fine, so plain data has been written before the damage is found.
    QByteArray sealed = seal(pattern(3 * chunk + 5));
    sealed[sealed.size() - 1] = static_cast<char>(sealed[sealed.size() - 1] ^ 0x80);
    writeFile(path("sealed.korvolocal"), sealed);
    writeFile(path("out"), earlier);
    expectError(Kind::invalidFile, invalidSentence, [&] { open(path("sealed.korvolocal"), path("out"), testKey()); });
    EXPECT_EQ(readFile(path("out")), earlier);
    EXPECT_EQ(entriesOf(folder()), (QStringList{"out", "plain.in", "sealed.korvolocal"}));
}

TEST_F(LocalFileProtectionTest, SavingOverTheInputItself)
{
    const QByteArray plain = pattern(2 * chunk + 17);
    writeFile(path("doc"), plain);
    protect(path("doc"), path("doc"), testKey());
    const QByteArray sealed = readFile(path("doc"));
    EXPECT_EQ(sealed.size(), plain.size() + 11 + 3 * 33);

    // A failed open over itself (wrong key, damaged copy) keeps the protected file whole.
    expectError(Kind::invalidFile, invalidSentence, [&] { open(path("doc"), path("doc"), testKey(3)); });
    EXPECT_TRUE(readFile(path("doc")) == sealed);

    open(path("doc"), path("doc"), testKey());
    EXPECT_TRUE(readFile(path("doc")) == plain);
    EXPECT_EQ(entriesOf(folder()), QStringList{"doc"});   // nothing left beside it
}

TEST_F(LocalFileProtectionTest, FullDeviceFailsWithWriteFailedAndKeepsEverything)
{
    const QByteArray plain = pattern(4 * chunk);
    writeFile(path("plain"), plain);
    protect(path("plain"), path("sealed"), testKey());
    writeFile(path("out"), earlier);
    const QByteArray sealed = readFile(path("sealed"));
    {
        FileSizeLimit limit(2 * chunk);
        expectError(Kind::writeFailed, writeFailedSentence, [&] { protect(path("plain"), path("out"), testKey()); });
        expectError(Kind::writeFailed, writeFailedSentence, [&] { open(path("sealed"), path("out"), testKey()); });
        // Over the input itself, too.
        expectError(Kind::writeFailed, writeFailedSentence, [&] { open(path("sealed"), path("sealed"), testKey()); });
    }
    EXPECT_EQ(readFile(path("out")), earlier);
    EXPECT_TRUE(readFile(path("sealed")) == sealed);
    EXPECT_TRUE(readFile(path("plain")) == plain);
    EXPECT_EQ(entriesOf(folder()), (QStringList{"out", "plain", "sealed"}));
}

TEST_F(LocalFileProtectionTest, CancellingFromProgressSavesNothing)
{
    struct Cancelled {};
    writeFile(path("plain"), pattern(6 * chunk));
    protect(path("plain"), path("sealed"), testKey());
    writeFile(path("out"), earlier);
    auto cancelAtOnce = [](qint64, qint64) { throw Cancelled{}; };
    EXPECT_THROW(protect(path("plain"), path("out"), testKey(), cancelAtOnce), Cancelled);
    EXPECT_THROW(open(path("sealed"), path("out"), testKey(), cancelAtOnce), Cancelled);
    EXPECT_EQ(readFile(path("out")), earlier);
    EXPECT_EQ(entriesOf(folder()), (QStringList{"out", "plain", "sealed"}));
}

TEST_F(LocalFileProtectionTest, OutputThatCannotBeCreatedFailsWithWriteFailed)
{
    writeFile(path("plain"), pattern(100));
    protect(path("plain"), path("sealed"), testKey());
    QDir(folder()).mkdir("existing-folder");
    writeFile(path("existing-folder/keep"), earlier);
    const QStringList outputs = {
        path("no-such-folder/out"),
        path("plain/out"),          // a file where a folder should be
        path("existing-folder"),    // a folder is never replaced by a file
        QStringLiteral("/proc/korvo-cannot-write-here"),
        QString(),
    };
    for (const QString& output : outputs) {
        SCOPED_TRACE(output.toStdString());
        expectError(Kind::writeFailed, writeFailedSentence, [&] { protect(path("plain"), output, testKey()); });
        expectError(Kind::writeFailed, writeFailedSentence, [&] { open(path("sealed"), output, testKey()); });
    }
    EXPECT_EQ(readFile(path("existing-folder/keep")), earlier);
    EXPECT_EQ(entriesOf(path("existing-folder")), QStringList{"keep"});
    EXPECT_EQ(entriesOf(folder()), (QStringList{"existing-folder", "plain", "sealed"}));
}

TEST_F(LocalFileProtectionTest, ReadOnlyOutputFolderKeepsTheEarlierFile)
{
    QDir(folder()).mkdir("locked");
    writeFile(path("locked/out"), earlier);
    writeFile(path("plain"), pattern(100));
    QFile::setPermissions(path("locked"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const bool enforced = !QFile(path("locked/probe")).open(QIODevice::WriteOnly);
    if (enforced) {
        expectError(Kind::writeFailed, writeFailedSentence, [&] { protect(path("plain"), path("locked/out"), testKey()); });
        EXPECT_EQ(readFile(path("locked/out")), earlier);
    }
    QFile::remove(path("locked/probe"));
    QFile::setPermissions(path("locked"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(entriesOf(path("locked")), QStringList{"out"});
    if (!enforced)
        GTEST_SKIP() << "folder permissions are not enforced for this user (root)";
}

TEST_F(LocalFileProtectionTest, KeyOfTheWrongSizeIsRefused)
{
    writeFile(path("plain"), pattern(100));
    protect(path("plain"), path("sealed"), testKey());
    for (const QByteArray& key : {QByteArray(), QByteArray(16, 'k'), QByteArray(33, 'k')}) {
        expectError(Kind::writeFailed, writeFailedSentence, [&] { protect(path("plain"), path("out"), key); });
        expectError(Kind::invalidFile, invalidSentence, [&] { open(path("sealed"), path("out"), key); });
    }
    EXPECT_FALSE(QFile::exists(path("out")));
}
