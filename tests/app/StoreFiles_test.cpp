// The file workflow with scripted panels: names offered, the local round trip, and every way
// out leaving the selection, the history and the temporary folder as they should be.
#include "support/StoreFixture.h"

#include "core/FilePreparationService.h"
#include "core/LocalFileProtectionService.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QUrl>

using Mode = KorvoStore::WorkMode;

TEST_F(StoreTest, LocalLockOpenAndBundle)
{
    await(store().bootstrapTask());
    const QByteArray contents = QByteArray("meeting notes\n").repeated(5000);
    // Opening before any key exists makes none: nothing could open here, and that is said first.
    store().setMode(Mode::Decrypt);
    EXPECT_FALSE(runJob({writeFile("elsewhere.korvolocal", "KORVOLOCAL\x01")}));
    EXPECT_EQ(store().errorMessage(), LocalFileProtectionError::noKey().message());
    EXPECT_TRUE(m_dialogs->saveTitles.isEmpty());
    EXPECT_EQ(m_keychain->copyMatching({KeychainStore::service, KeychainStore::localProtectionAccount}).status,
              KeychainStatus::itemNotFound);
    store().setMode(Mode::Encrypt);
    ASSERT_TRUE(runJob({writeFile("notes.txt", contents)}, workPath("notes.txt.korvolocal"))) << store().errorMessage().toStdString();
    EXPECT_EQ(activityLines(), QStringList{"Locked on this computer: notes.txt -> notes.txt.korvolocal"});
    EXPECT_TRUE(store().selectedURLs().isEmpty());
    store().setMode(Mode::Decrypt);
    ASSERT_TRUE(runJob({workPath("notes.txt.korvolocal")}, workPath("opened.txt"))) << store().errorMessage().toStdString();
    EXPECT_EQ(readFile(workPath("opened.txt")), contents);
    EXPECT_EQ(activityLines().front(), "Opened on this computer: notes.txt.korvolocal -> opened.txt");

    // A folder's hidden items are left out, and the status line says so (the names offered and
    // the bundle's opening are the desktop run's).
    writeFile("album/sub/b.jpg", "bbbb");
    writeFile("album/.thumbnails/a.png", "left out");
    store().setMode(Mode::Encrypt);
    ASSERT_TRUE(runJob({workPath("album") + "/"}, workPath("album.korvolocal"))) << store().errorMessage().toStdString();
    EXPECT_EQ(store().statusMessage(), "Saved to " + workPath("album.korvolocal") + " 1 hidden item was left out.");
}

TEST_F(StoreTest, EveryFailureKeepsTheSelectionWritesNoHistoryAndRemovesTheBundle)
{
    await(store().bootstrapTask());
    const QStringList selection{writeFile("docs/one.txt", "1"), writeFile("docs/two.txt", "2")};
    const struct {
        const char* name;
        std::optional<QString> saveAnswer;
        QString expectedError;
    } cases[] = {
        {"cancelled", std::nullopt, "Save was cancelled."},
        {"empty answer", QString(), "Save was cancelled."},
        {"unwritable target", workPath("missing-folder/out.korvolocal"), LocalFileProtectionError::writeFailed().message()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(runJob(selection, c.saveAnswer));
        EXPECT_EQ(store().errorMessage(), c.expectedError);
        EXPECT_EQ(store().selectedURLs(), selection);
        EXPECT_EQ(store().statusMessage(), "Locking file...");
        EXPECT_TRUE(store().activities().isEmpty() && temporaryFiles().isEmpty());
        EXPECT_FALSE(QFile::exists(workPath("missing-folder")));
    }

    // Nothing chosen: the preparation error, and no panel is shown.
    const qsizetype panels = m_dialogs->saveTitles.size();
    EXPECT_FALSE(runJob({}));
    EXPECT_EQ(store().errorMessage(), FilePreparationError::noFiles().message());
    EXPECT_EQ(m_dialogs->saveTitles.size(), panels);

    // A file that is not sealed under this key does not open, and nothing is left behind.
    store().setMode(Mode::Decrypt);
    EXPECT_FALSE(runJob({workPath("docs/one.txt")}, workPath("one-opened.txt")));
    EXPECT_EQ(store().errorMessage(), LocalFileProtectionError::invalidFile().message());
    EXPECT_FALSE(QFile::exists(workPath("one-opened.txt")));
    EXPECT_EQ(store().statusMessage(), "Opening file...");

    // Account mode checks come after the save panel and write nothing.
    store().setMode(Mode::Encrypt);
    store().leaveLocalMode();   // no identity
    EXPECT_FALSE(runJob(selection, workPath("out.korvo")));
    EXPECT_EQ(store().errorMessage(), "Sign in first.");
    EXPECT_TRUE(m_dialogs->suggestedNames.last().endsWith(".zip.korvo"));
    saveIdentity("ana@example.com");
    makeStore();
    await(store().bootstrapTask());   // identity, no Korvo selected
    store().setEncryptionTarget(KorvoStore::EncryptionTarget::Recipient);
    store().setRecipientSecretIdText("  ");
    EXPECT_FALSE(runJob(selection, workPath("out.korvo")));
    EXPECT_EQ(store().errorMessage(), "Enter the other person's Korvo number.");
    store().setMode(Mode::Decrypt);
    EXPECT_FALSE(runJob({workPath("docs/one.txt")}, workPath("out.txt")));
    EXPECT_EQ(store().errorMessage(), "Choose or create a Korvo first.");
    EXPECT_EQ(store().selectedURLs(), QStringList{workPath("docs/one.txt")});
    EXPECT_FALSE(QFile::exists(workPath("out.korvo")) || QFile::exists(workPath("out.txt")));
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

TEST_F(StoreTest, OpenPanelFollowsTheModeAndDropsMarkFolders)
{
    store().setSelectedURLs({"/earlier"});
    m_dialogs->openAnswers.push_back(std::nullopt);
    store().chooseFiles();
    const auto asked = [this] {   // folders, several files, protected files only
        const FileDialogs::OpenRequest& r = m_dialogs->openRequests.last();
        return std::tuple(r.canChooseDirectories, r.allowsMultipleSelection, r.protectedFilesOnly);
    };
    EXPECT_EQ(store().selectedURLs(), QStringList{"/earlier"});   // cancelled: unchanged
    EXPECT_EQ(asked(), std::tuple(true, true, false));
    store().setMode(Mode::Decrypt);
    m_dialogs->openAnswers.push_back(QStringList{"/x.korvolocal"});
    store().chooseFiles();
    EXPECT_EQ(store().selectedURLs(), QStringList{"/x.korvolocal"});
    EXPECT_EQ(asked(), std::tuple(false, false, true));

    const QString file = writeFile("drop/a.txt", "a");
    store().loadFileURLs({QUrl::fromLocalFile(file), QUrl::fromLocalFile(workPath("drop")),
                          QUrl("https://example.com/x"), QUrl::fromLocalFile(file)});
    EXPECT_EQ(store().selectedURLs(), (QStringList{file, workPath("drop") + "/", file}));
    store().loadFileURLs({QUrl("https://example.com/x")});
    EXPECT_TRUE(store().selectedURLs().isEmpty());
}

// Cancel at each stage (bundling a folder, locking a file): no alert, "Cancelled.", the earlier
// file at the output path untouched, no bundle, partial output or job folder left anywhere, and
// the bar only after half a second (a small job never shows it).
TEST_F(StoreTest, CancelStopsEachStageAndLeavesNothingBehind)
{
    await(store().bootstrapTask());
    QDir().mkpath(workPath("big"));
    QFile image(workPath("big/disk.img"));
    ASSERT_TRUE(image.open(QIODevice::WriteOnly) && image.resize(qint64(3) << 30));   // sparse
    image.close();
    const QString small = writeFile("small.txt", "small");
    const QString output = writeFile("out.korvolocal", "earlier");
    const auto workListing = [this] {
        QStringList names;
        for (QDirIterator it(workPath(""), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
             it.hasNext();)
            names.append(it.next());
        names.sort();
        return names;
    };

    const struct {
        const char* name;
        QStringList selection;
        bool cancels;
    } cases[] = {
        // The small job goes first: after a cancelled large write, the next job's flush to disk
        // waits for the file system to settle and may take longer than the delay.
        {"small job", {small}, false},
        {"bundling", {workPath("big") + "/", small}, true},
        {"locking", {workPath("big/disk.img")}, true},
    };
    for (const auto& c : cases) {
        const QStringList listing = workListing();
        QElapsedTimer clock;
        qint64 shownAt = -1;
        double shownFraction = -1;
        const auto connection = QObject::connect(store().progress(), &OperationProgress::changed, [&] {
            if (shownAt >= 0 || !store().progress()->visible())
                return;
            shownAt = clock.elapsed();
            shownFraction = store().progress()->fraction();
            store().cancelOperation();
        });
        clock.start();
        const bool succeeded = runJob(c.selection, c.cancels ? output : workPath("small.korvolocal"));
        QObject::disconnect(connection);

        EXPECT_EQ(succeeded, !c.cancels) << c.name;
        EXPECT_TRUE(store().errorMessage().isEmpty()) << c.name << store().errorMessage().toStdString();
        EXPECT_FALSE(store().progress()->visible() || store().progress()->cancellable()) << c.name;
        EXPECT_TRUE(temporaryFiles().isEmpty()) << c.name << temporaryFiles().join(",").toStdString();
        EXPECT_EQ(readFile(output), "earlier") << c.name;
        if (c.cancels) {
            EXPECT_EQ(store().statusMessage(), "Cancelled.") << c.name;
            EXPECT_GE(shownAt, OperationProgress::showDelayMs) << c.name;
            EXPECT_TRUE(shownFraction >= 0 && shownFraction < 1) << c.name << " " << shownFraction;
            EXPECT_EQ(store().selectedURLs(), c.selection) << c.name;
            EXPECT_EQ(workListing(), listing) << c.name;
        } else {
            EXPECT_EQ(shownAt, -1) << c.name;
        }
    }
    EXPECT_EQ(store().activities().size(), 1);   // the small job only
}

// A keyring that cannot answer is said in one sentence where the user can act: at window open
// instead of local mode's "ready" line, and before the save panel (no panel, no bundle left).
TEST_F(StoreTest, KeyringTroubleIsSaidAtWindowOpenAndBeforeTheSavePanel)
{
    m_keychain->failReads = KeychainStatus::notAvailable;
    await(store().bootstrapTask());
    await(store().checkKeyringTask());
    const QString sentence = KeychainStoreError::unexpectedStatus(KeychainStatus::notAvailable).message();
    EXPECT_EQ(store().accessMode(), KorvoStore::AppAccessMode::Local);
    EXPECT_EQ(store().keyringProblem(), sentence);
    EXPECT_EQ(store().statusMessage(), sentence);

    writeFile("docs/one.txt", "1");
    EXPECT_FALSE(runJob({workPath("docs/"), workPath("docs/one.txt")}));
    EXPECT_EQ(store().errorMessage(), sentence);
    EXPECT_TRUE(m_dialogs->saveTitles.isEmpty());
    EXPECT_TRUE(temporaryFiles().isEmpty());

    m_keychain->failReads = 0;
    EXPECT_TRUE(runJob(store().selectedURLs(), workPath("docs.korvolocal"))) << store().errorMessage().toStdString();
    EXPECT_TRUE(store().keyringProblem().isEmpty());
}

// Account mode: Cancel ends the bridge's child at once instead of waiting for its answer, for a
// file job and a request alike; the line reads "Cancelled." (not a result) and no alert follows.
TEST_F(StoreTest, CancelEndsTheBridgeChildInAccountMode)
{
    const nlohmann::json slow{{"ok", true}, {"result", {{"valid", true}, {"principalId", "p1"}}}, {"delayMs", 30000}};
    answer({{"encryptFile", slow}, {"verifyCredentials", slow}});
    saveIdentity("ana@example.com", 7);
    makeStore();
    await(store().bootstrapTask());
    const std::function<bool()> jobs[] = {
        [this] { return runJob({writeFile("notes.txt", "notes")}, workPath("notes.txt.korvo")); },
        [this] { return await(store().loginTask("ana@example.com", "password1")); },
    };
    for (const auto& job : jobs) {
        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(800, &store(), [this] {
            EXPECT_TRUE(store().progress()->cancellable());
            store().cancelOperation();
        });
        EXPECT_FALSE(job());
        EXPECT_LT(clock.elapsed(), 10000);
        EXPECT_EQ(store().statusMessage(), "Cancelled.");
        EXPECT_FALSE(store().statusIsResult());
        EXPECT_TRUE(store().errorMessage().isEmpty()) << store().errorMessage().toStdString();
        EXPECT_FALSE(store().progress()->cancellable());
    }
    EXPECT_EQ(commands(), (std::vector<std::string>{"encryptFile", "verifyCredentials"}));
}
