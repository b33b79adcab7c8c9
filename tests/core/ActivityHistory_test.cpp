// The recent-activity files: known bytes, files written elsewhere, damaged files and failed saves.

#include "core/ActivityHistory.h"
#include "fixtures/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Mode = ActivityHistory::Mode;

QDateTime utc(const char* iso) { return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs); }

ActivityItem numbered(int n) { return {QUuid::createUuid(), "Locked", QString::number(n), utc("2024-05-01T12:00:00Z").addSecs(n)}; }

using testfiles::readFile;
using testfiles::writeFile;

class ActivityHistoryTest : public testing::Test {
protected:
    QTemporaryDir root;
    QString dataFolder = root.filePath("Application Support/Korvo");   // missing until first needed
    QString accountFile = dataFolder + "/recent-activity.json";
    ActivityHistory history{AppPaths(dataFolder)};
};

TEST_F(ActivityHistoryTest, WritesTheKnownBytesAndReadsFilesWrittenElsewhere)
{
    const QList<ActivityItem> items{
        {QUuid::fromString(QStringLiteral("e621e1f8-c36c-495a-93fc-0c247a3e6e5f")), "Locked on this Mac",
         "report \"Q3\".pdf -> report \"Q3\".pdf.korvolocal", utc("2001-01-01T00:00:01.500Z")},
        {QUuid::fromString(QStringLiteral("00000000-0000-0000-0000-00000000000A")), "Signed in", "zoë@example.com",
         utc("2024-05-01T12:00:00Z")},
        {QUuid::fromString(QStringLiteral("00000000-0000-0000-0000-00000000000B")), "Korvo created", "Korvo #7",
         utc("2000-12-31T23:59:58.750Z")},
    };
    history.save(Mode::local, items);
    EXPECT_EQ(readFile(dataFolder + "/recent-local-activity.json"),
              QByteArray(R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","title":"Locked on this Mac",)"
                         R"("detail":"report \"Q3\".pdf -> report \"Q3\".pdf.korvolocal","date":1.5},)"
                         R"({"id":"00000000-0000-0000-0000-00000000000A","title":"Signed in","detail":"zo)"
                         "\xc3\xab"
                         R"(@example.com","date":736257600},)"
                         R"({"id":"00000000-0000-0000-0000-00000000000B","title":"Korvo created","detail":"Korvo #7","date":-1.25}])"));
    EXPECT_EQ(history.load(Mode::local), items);
    EXPECT_TRUE(history.load(Mode::account).isEmpty()) << "the modes never mix";

    // Any key order, blanks, unknown keys and lower-case identifiers.
    writeFile(accountFile, R"([ {"date": 736257600.25, "detail": "x", "note": "ignored", "title": "Opened",)"
                           R"(  "id": "e621e1f8-c36c-495a-93fc-0c247a3e6e5f"} ])");
    EXPECT_EQ(history.load(Mode::account), (QList<ActivityItem>{{items[0].id, "Opened", "x", utc("2024-05-01T12:00:00.250Z")}}));
}

TEST_F(ActivityHistoryTest, UnreadableFilesLoadAsEmptyAndStayUntouched)
{
    const QByteArray valid = R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","title":"t","detail":"d")";
    const QByteArray invalid[] = {
        valid + R"(,"date":"2024-05-01T12:00:00Z"}])",   // dates as text are not accepted
        "[" + valid + R"(,"date":1},)" + valid + "}]",   // one entry without a date spoils the file
        "[" + valid + R"(,"date":1})",                   // truncated
        R"({"items":[]})",
        R"([{"id":"{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}","title":"t","detail":"d","date":1}])",   // not 36 characters
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5G","title":"t","detail":"d","date":1}])",    // 36, not an identifier
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","title":"t","detail":"d","date":1e300}])",
    };
    for (const QByteArray& bytes : invalid) {
        writeFile(accountFile, bytes);
        EXPECT_TRUE(history.load(Mode::account).isEmpty()) << bytes.constData();
        EXPECT_EQ(readFile(accountFile), bytes);
    }
    EXPECT_TRUE(history.load(Mode::local).isEmpty()) << "a missing file is an empty history";
}

// The cap, the sentence and the entry kept in memory are the store's tests (StoreActivity).
TEST_F(ActivityHistoryTest, RemovingAccountHistoryLeavesLocalHistoryAndAFailedSaveLeavesNothing)
{
    QList<ActivityItem> account, local;
    history.remember(Mode::account, account, numbered(1));
    history.remember(Mode::local, local, numbered(2));
    EXPECT_TRUE(history.remove(Mode::account));
    EXPECT_TRUE(history.remove(Mode::account)) << "already gone counts as removed";
    EXPECT_TRUE(history.load(Mode::account).isEmpty());
    EXPECT_EQ(history.load(Mode::local), local);

    // The target name is taken by a folder: the write fails and no temporary file is left.
    QDir().mkpath(accountFile);
    EXPECT_THROW(history.save(Mode::account, {numbered(1)}), ActivityHistoryError);
    EXPECT_EQ(QDir(dataFolder).entryList(QDir::Files | QDir::Hidden), QStringList{"recent-local-activity.json"});
}

} // namespace
