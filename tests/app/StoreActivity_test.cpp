// The recent-activity list through the store: the store's own fifty-entry cap on a longer file
// written elsewhere, per-mode files, unwritable folders.
#include "support/StoreFixture.h"

#include <QDir>
#include <QFile>

using Access = KorvoStore::AppAccessMode;

TEST_F(StoreTest, SixtyEntriesWrittenElsewhereLoadInFullAndTheNextSaveKeepsFifty)
{
    QList<ActivityItem> sixty;
    for (int i = 0; i < 60; ++i)
        sixty.append(ActivityItem::make("old", QString::number(i)));
    writeFile(store().activityHistoryURL(Access::Local), ActivityHistory::encode(sixty));
    // Text dates make the account's file unreadable.
    writeFile(store().activityHistoryURL(Access::Account),
              R"([{"id":"6F1C2A4E-93B7-4D0A-8E55-2C71B9D4F013","title":"Signed in","detail":"a@b.c","date":"2024-01-01T00:00:00Z"}])");
    await(store().bootstrapTask());
    EXPECT_EQ(store().activities().size(), 60);
    ASSERT_TRUE(runJob({writeFile("a.txt", "a")}, workPath("a.txt.korvolocal"))) << store().errorMessage().toStdString();
    await(store().historyIdle());
    ASSERT_EQ(store().activities().size(), 50);
    EXPECT_EQ(store().activities()[1].detail, "0");
    EXPECT_EQ(store().activities()[49].detail, "48");
    EXPECT_EQ(ActivityHistory::decode(readFile(store().activityHistoryURL(Access::Local))).value().size(), 50);

    store().leaveLocalMode();
    EXPECT_TRUE(store().activities().isEmpty());
    store().enterLocalMode();
    ASSERT_EQ(store().activities().size(), 50);
    EXPECT_EQ(activityLines().front(), "Locked on this computer: a.txt -> a.txt.korvolocal");
}

TEST_F(StoreTest, AnUnwritableDataFolderReportsButKeepsTheEntry)
{
    await(store().bootstrapTask());
    // A folder where the history file should be makes every write fail, whoever runs the test.
    QDir().mkpath(store().activityHistoryURL(Access::Local));
    ASSERT_TRUE(runJob({writeFile("a.txt", "a")}, workPath("a.txt.korvolocal"))) << store().errorMessage().toStdString();
    await(store().historyIdle());
    spin(10);
    EXPECT_EQ(store().errorMessage(), "Recent activity could not be saved.");
    EXPECT_EQ(store().activities().size(), 1);
    EXPECT_TRUE(QFile::exists(workPath("a.txt.korvolocal")));
}
