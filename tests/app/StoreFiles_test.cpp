// The file workflow with scripted panels: names offered, the local round trip, and every way
// out leaving the selection, the history and the temporary folder as they should be.
#include "support/StoreFixture.h"

#include "core/LocalFileProtectionService.h"

#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QUrl>

using Mode = KorvoStore::WorkMode;

TEST_F(StoreTest, DefaultOutputNamesFollowModeAndAccessMode)
{
    const struct {
        bool local;
        Mode mode;
        const char* input;
        const char* expected;
    } cases[] = {
        {true, Mode::Encrypt, "/d/report.pdf", "report.pdf.korvolocal"},
        {false, Mode::Encrypt, "/d/report.pdf", "report.pdf.korvo"},
        {true, Mode::Decrypt, "/d/notes.txt.korvolocal", "notes.txt"},
        {true, Mode::Decrypt, "/d/notes.txt.korvo", "notes.txt"},
        {false, Mode::Decrypt, "/d/archive.zip.korvo", "archive.zip"},
        {false, Mode::Decrypt, "/d/photo.zip", "photo"},
        {false, Mode::Decrypt, "/d/a.zip.b.zip", "a.b"},
        {false, Mode::Decrypt, "/d/notes.txt.korvolocal", "notes.txt.korvolocal"},
        {false, Mode::Decrypt, "/d/NOTES.KORVO", "NOTES.KORVO"},
        {true, Mode::Decrypt, "/d/x.ZIP", "x.ZIP"},
        {true, Mode::Decrypt, "/d/.korvolocal", ""},
    };
    for (const auto& c : cases) {
        if (c.local)
            store().enterLocalMode();
        else
            store().leaveLocalMode();
        EXPECT_EQ(store().defaultOutputName(c.input, c.mode), QString::fromUtf8(c.expected)) << c.input;
    }
}

TEST_F(StoreTest, LocalLockAndOpenRoundTrip)
{
    await(store().bootstrapTask());
    const QByteArray contents = QByteArray("meeting notes\n").repeated(5000);
    const QString notes = writeFile("notes.txt", contents);
    store().setSelectedURLs({notes});
    m_dialogs->saveAnswers.push_back(workPath("saved/notes.txt.korvolocal"));
    QDir().mkpath(workPath("saved"));
    ASSERT_TRUE(await(store().runFileOperationTask())) << store().errorMessage().toStdString();

    EXPECT_EQ(m_dialogs->saveTitles.last(), "Save locked file");
    EXPECT_EQ(m_dialogs->suggestedNames.last(), "notes.txt.korvolocal");
    ASSERT_EQ(store().activities().size(), 1);
    EXPECT_EQ(store().activities().front().title, "Locked on this computer");
    EXPECT_EQ(store().activities().front().detail, "notes.txt -> notes.txt.korvolocal");
    EXPECT_TRUE(store().selectedURLs().isEmpty());
    EXPECT_EQ(store().statusMessage(), "Saved to " + workPath("saved/notes.txt.korvolocal"));
    EXPECT_NE(readFile(workPath("saved/notes.txt.korvolocal")), contents);

    store().setMode(Mode::Decrypt);
    store().setSelectedURLs({workPath("saved/notes.txt.korvolocal")});
    m_dialogs->saveAnswers.push_back(workPath("opened.txt"));
    ASSERT_TRUE(await(store().runFileOperationTask())) << store().errorMessage().toStdString();
    EXPECT_EQ(m_dialogs->saveTitles.last(), "Save opened file");
    EXPECT_EQ(m_dialogs->suggestedNames.last(), "notes.txt");
    EXPECT_EQ(readFile(workPath("opened.txt")), contents);
    EXPECT_EQ(store().activities().front().title, "Opened on this computer");
    EXPECT_EQ(store().activities().front().detail, "notes.txt.korvolocal -> opened.txt");
}

TEST_F(StoreTest, FolderIsBundledOfferedUnderTheBundleNameAndTheBundleIsRemoved)
{
    await(store().bootstrapTask());
    writeFile("album/a.jpg", "aaaa");
    writeFile("album/sub/b.jpg", "bbbb");
    store().setSelectedURLs({workPath("album") + "/"});
    m_dialogs->saveAnswers.push_back(workPath("album.korvolocal"));
    ASSERT_TRUE(await(store().runFileOperationTask())) << store().errorMessage().toStdString();
    EXPECT_TRUE(m_dialogs->suggestedNames.last().contains(QRegularExpression("^korvo-[0-9A-Fa-f-]{36}\\.zip\\.korvolocal$")))
        << m_dialogs->suggestedNames.last().toStdString();
    EXPECT_TRUE(temporaryFiles().isEmpty()) << temporaryFiles().join(",").toStdString();
    EXPECT_TRUE(store().activities().front().detail.endsWith(" -> album.korvolocal"));

    // The sealed bundle opens back into a ZIP archive.
    store().setMode(Mode::Decrypt);
    store().setSelectedURLs({workPath("album.korvolocal")});
    m_dialogs->saveAnswers.push_back(workPath("album.zip"));
    ASSERT_TRUE(await(store().runFileOperationTask()));
    EXPECT_TRUE(readFile(workPath("album.zip")).startsWith("PK\x03\x04"));
}

TEST_F(StoreTest, EveryFailureKeepsTheSelectionWritesNoHistoryAndRemovesTheBundle)
{
    await(store().bootstrapTask());
    writeFile("docs/one.txt", "1");
    writeFile("docs/two.txt", "2");
    const QStringList selection{workPath("docs/one.txt"), workPath("docs/two.txt")};

    struct Case {
        const char* name;
        std::optional<QString> saveAnswer;
        QString expectedError;
    };
    const Case cases[] = {
        {"cancelled", std::nullopt, "Save was cancelled."},
        {"empty answer", QString(), "Save was cancelled."},
        {"unwritable target", workPath("missing-folder/out.korvolocal"),
         LocalFileProtectionError::writeFailed().message()},
    };
    for (const Case& c : cases) {
        store().setSelectedURLs(selection);
        m_dialogs->saveAnswers.push_back(c.saveAnswer);
        EXPECT_FALSE(await(store().runFileOperationTask())) << c.name;
        EXPECT_EQ(store().errorMessage(), c.expectedError) << c.name;
        EXPECT_EQ(store().selectedURLs(), selection) << c.name;
        EXPECT_EQ(store().statusMessage(), "Locking file...") << c.name;
        EXPECT_TRUE(store().activities().isEmpty()) << c.name;
        EXPECT_TRUE(temporaryFiles().isEmpty()) << c.name;
        EXPECT_FALSE(QFile::exists(workPath("missing-folder"))) << c.name;
    }

    // Nothing chosen: the preparation error, and no panel is shown.
    store().setSelectedURLs({});
    const qsizetype panels = m_dialogs->saveTitles.size();
    EXPECT_FALSE(await(store().runFileOperationTask()));
    EXPECT_EQ(store().errorMessage(), FilePreparationError::noFiles().message());
    EXPECT_EQ(m_dialogs->saveTitles.size(), panels);

    // A file that is not sealed under this key does not open, and nothing is left behind.
    store().setMode(Mode::Decrypt);
    store().setSelectedURLs({workPath("docs/one.txt")});
    m_dialogs->saveAnswers.push_back(workPath("one-opened.txt"));
    EXPECT_FALSE(await(store().runFileOperationTask()));
    EXPECT_EQ(store().errorMessage(), LocalFileProtectionError::invalidFile().message());
    EXPECT_FALSE(QFile::exists(workPath("one-opened.txt")));
    EXPECT_EQ(store().statusMessage(), "Opening file...");
}

TEST_F(StoreTest, AccountModeChecksComeAfterTheSavePanelAndWriteNothing)
{
    writeFile("docs/one.txt", "1");
    writeFile("docs/two.txt", "2");
    const QStringList selection{workPath("docs/one.txt"), workPath("docs/two.txt")};
    store().leaveLocalMode();   // account mode, no identity

    store().setSelectedURLs(selection);
    m_dialogs->saveAnswers.push_back(workPath("out.korvo"));
    EXPECT_FALSE(await(store().runFileOperationTask()));
    EXPECT_EQ(store().errorMessage(), "Sign in first.");
    EXPECT_TRUE(m_dialogs->suggestedNames.last().endsWith(".zip.korvo"));
    EXPECT_TRUE(temporaryFiles().isEmpty());

    saveIdentity("ana@example.com");
    makeStore();
    await(store().bootstrapTask());   // identity, no Korvo selected
    store().setEncryptionTarget(KorvoStore::EncryptionTarget::Recipient);
    store().setRecipientSecretIdText("  ");
    store().setSelectedURLs(selection);
    m_dialogs->saveAnswers.push_back(workPath("out.korvo"));
    EXPECT_FALSE(await(store().runFileOperationTask()));
    EXPECT_EQ(store().errorMessage(), "Enter the other person's Korvo number.");

    store().setMode(Mode::Decrypt);
    store().setSelectedURLs({workPath("docs/one.txt")});
    m_dialogs->saveAnswers.push_back(workPath("out.txt"));
    EXPECT_FALSE(await(store().runFileOperationTask()));
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
    EXPECT_EQ(store().selectedURLs(), QStringList{"/earlier"});   // cancelled: unchanged
    EXPECT_TRUE(m_dialogs->openRequests.last().canChooseDirectories);
    EXPECT_TRUE(m_dialogs->openRequests.last().allowsMultipleSelection);
    EXPECT_FALSE(m_dialogs->openRequests.last().protectedFilesOnly);

    store().setMode(Mode::Decrypt);
    m_dialogs->openAnswers.push_back(QStringList{"/x.korvolocal"});
    store().chooseFiles();
    EXPECT_EQ(store().selectedURLs(), QStringList{"/x.korvolocal"});
    EXPECT_FALSE(m_dialogs->openRequests.last().canChooseDirectories);
    EXPECT_FALSE(m_dialogs->openRequests.last().allowsMultipleSelection);
    EXPECT_TRUE(m_dialogs->openRequests.last().protectedFilesOnly);

    const QString file = writeFile("drop/a.txt", "a");
    store().loadFileURLs({QUrl::fromLocalFile(file), QUrl::fromLocalFile(workPath("drop")),
                          QUrl("https://example.com/x"), QUrl::fromLocalFile(file)});
    EXPECT_EQ(store().selectedURLs(), (QStringList{file, workPath("drop") + "/", file}));
    store().loadFileURLs({QUrl("https://example.com/x")});
    EXPECT_TRUE(store().selectedURLs().isEmpty());
}
