// The recent-activity files: known bytes, files written elsewhere, damaged files, the fifty-entry
// cap and failed saves.

#include "core/ActivityHistory.h"
#include "fixtures/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Mode = ActivityHistory::Mode;

QDateTime utc(const char* iso) { return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs); }

ActivityItem numbered(int n)
{
    return {QUuid::createUuid(), "Locked", QStringLiteral("file%1.txt -> file%1.txt.korvo").arg(n),
            utc("2024-05-01T12:00:00Z").addSecs(n)};
}

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
    const QList<ActivityItem> read = history.load(Mode::account);
    ASSERT_EQ(read.size(), 1);
    EXPECT_EQ(read[0].id, items[0].id);
    EXPECT_EQ(read[0].title, "Opened");
    EXPECT_EQ(read[0].date, utc("2024-05-01T12:00:00.250Z"));
}

TEST_F(ActivityHistoryTest, UnreadableFilesLoadAsEmptyAndStayUntouched)
{
    const QByteArray valid = R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","title":"t","detail":"d")";
    const QByteArray invalid[] = {
        valid + R"(,"date":"2024-05-01T12:00:00Z"}])",   // dates as text are not accepted
        "[" + valid + R"(,"date":1},)" + valid + "}]",   // one entry without a date spoils the file
        "[" + valid + R"(,"date":1})",                   // truncated
        R"({"items":[]})",
        R"([{"id":"not-a-uuid","title":"t","detail":"d","date":1}])",
        R"([{"id":"{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}","title":"t","detail":"d","date":1}])",
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","title":null,"detail":"d","date":1}])",
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","title":"t","detail":"d","date":1e300}])",
        "",
    };
    for (const QByteArray& bytes : invalid) {
        writeFile(accountFile, bytes);
        EXPECT_TRUE(history.load(Mode::account).isEmpty()) << bytes.constData();
        EXPECT_EQ(readFile(accountFile), bytes);
    }
    EXPECT_TRUE(history.load(Mode::local).isEmpty()) << "a missing file is an empty history";
}

TEST_F(ActivityHistoryTest, KeepsTheFiftyNewest)
{
    QList<ActivityItem> activities;
    for (int n = 1; n <= 51; ++n)
        history.remember(Mode::local, activities, numbered(n));
    ASSERT_EQ(activities.size(), 50);
    // Read back with an independent JSON reader: newest first, the oldest gone.
    const QJsonArray written = QJsonDocument::fromJson(readFile(history.historyPath(Mode::local))).array();
    ASSERT_EQ(written.size(), 50);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(written[i].toObject()["detail"].toString(), QStringLiteral("file%1.txt -> file%1.txt.korvo").arg(51 - i));

    // A longer file written elsewhere loads in full and is cut on the next save.
    QList<ActivityItem> sixty;
    for (int n = 60; n >= 1; --n)
        sixty.append(numbered(n));
    writeFile(accountFile, ActivityHistory::encode(sixty));
    QList<ActivityItem> loaded = history.load(Mode::account);
    EXPECT_EQ(loaded, sixty);
    const ActivityItem newest = ActivityItem::make("Signed in", "ada@example.com");
    history.remember(Mode::account, loaded, newest);
    const QList<ActivityItem> saved = history.load(Mode::account);
    ASSERT_EQ(saved.size(), 50);
    EXPECT_EQ(saved.front(), newest);
    EXPECT_EQ(saved.mid(1), sixty.mid(0, 49));
}

TEST_F(ActivityHistoryTest, FailedSaveKeepsTheEntryInMemory)
{
    // The data folder's parent is a file, so the folder can never be created.
    writeFile(root.filePath("blocker"), "x");
    const ActivityHistory blocked{AppPaths(root.filePath("blocker/Korvo"))};
    QList<ActivityItem> activities{numbered(1)};
    const auto error = testfiles::thrown<ActivityHistoryError>([&] { blocked.remember(Mode::local, activities, numbered(2)); });
    EXPECT_EQ(error ? error->message() : "", "Recent activity could not be saved.");
    ASSERT_EQ(activities.size(), 2);
    EXPECT_EQ(activities.front().detail, "file2.txt -> file2.txt.korvo");
    EXPECT_TRUE(blocked.load(Mode::local).isEmpty());

    // The target name is taken by a folder: the write fails and nothing is left behind.
    QDir().mkpath(accountFile);
    EXPECT_THROW(history.save(Mode::account, activities), ActivityHistoryError);
    EXPECT_EQ(QDir(dataFolder).entryList(QDir::Files | QDir::Hidden), QStringList{});
}

TEST_F(ActivityHistoryTest, RemovingAccountHistoryLeavesLocalHistory)
{
    QList<ActivityItem> account, local;
    history.remember(Mode::account, account, numbered(1));
    history.remember(Mode::local, local, numbered(2));
    EXPECT_TRUE(history.remove(Mode::account));
    EXPECT_TRUE(history.remove(Mode::account)) << "already gone counts as removed";
    EXPECT_TRUE(history.load(Mode::account).isEmpty());
    EXPECT_EQ(history.load(Mode::local), local);
}

} // namespace
