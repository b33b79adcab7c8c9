// The recent-activity list through the store: the store's own fifty-entry cap on a longer file
// written elsewhere, per-mode files, unwritable folders.
#include "support/StoreFixture.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

using Access = KorvoStore::AppAccessMode;

namespace {
QList<ActivityItem> numbered(int count, const QString& prefix)
{
    QList<ActivityItem> items;
    for (int i = 0; i < count; ++i)
        items.append(ActivityItem::make(prefix, QString::number(i)));
    return items;
}

QJsonArray readArray(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QJsonDocument::fromJson(file.readAll()).array();
}

// Locks one small file in local mode, answering the save panel with `output`.
void lockOnce(KorvoStore& store, const std::shared_ptr<ScriptedFileDialogs>& dialogs, const QString& input,
              const QString& output)
{
    store.setSelectedURLs({input});
    dialogs->saveAnswers.push_back(output);
    EXPECT_TRUE(QCoro::waitFor(store.runFileOperationTask())) << store.errorMessage().toStdString();
    QCoro::waitFor(store.historyIdle());
}
} // namespace

TEST_F(StoreTest, SixtyEntriesWrittenElsewhereLoadInFullAndTheNextSaveKeepsFifty)
{
    QFile file(store().activityHistoryURL(Access::Local));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(ActivityHistory::encode(numbered(60, "old")));
    file.close();
    await(store().bootstrapTask());
    EXPECT_EQ(store().activities().size(), 60);
    lockOnce(store(), m_dialogs, writeFile("a.txt", "a"), workPath("a.txt.korvolocal"));
    ASSERT_EQ(store().activities().size(), 50);
    EXPECT_EQ(store().activities()[1].detail, "0");
    EXPECT_EQ(store().activities()[49].detail, "48");
    EXPECT_EQ(readArray(store().activityHistoryURL(Access::Local)).size(), 50);
}

TEST_F(StoreTest, ModesKeepSeparateHistoriesAndBadFilesLoadEmpty)
{
    QFile account(store().activityHistoryURL(Access::Account));
    ASSERT_TRUE(account.open(QIODevice::WriteOnly));
    account.write(R"([{"id":"6F1C2A4E-93B7-4D0A-8E55-2C71B9D4F013","title":"Signed in","detail":"a@b.c","date":"2024-01-01T00:00:00Z"}])");
    account.close();
    await(store().bootstrapTask());
    lockOnce(store(), m_dialogs, writeFile("a.txt", "a"), workPath("a.txt.korvolocal"));
    EXPECT_EQ(store().activities().size(), 1);

    store().leaveLocalMode();
    EXPECT_TRUE(store().activities().isEmpty());   // text dates make the file unreadable
    store().enterLocalMode();
    ASSERT_EQ(store().activities().size(), 1);
    EXPECT_EQ(store().activities().front().title, "Locked on this computer");
}

TEST_F(StoreTest, AnUnwritableDataFolderReportsButKeepsTheEntry)
{
    await(store().bootstrapTask());
    const QString history = store().activityHistoryURL(Access::Local);
    // A folder where the history file should be makes every write fail, whoever runs the test.
    QDir().mkpath(history);
    lockOnce(store(), m_dialogs, writeFile("a.txt", "a"), workPath("a.txt.korvolocal"));
    spin(10);
    EXPECT_EQ(store().errorMessage(), "Recent activity could not be saved.");
    ASSERT_EQ(store().activities().size(), 1);
    EXPECT_TRUE(QFile::exists(workPath("a.txt.korvolocal")));
}
