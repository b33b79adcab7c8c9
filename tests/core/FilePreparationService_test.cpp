// Preparing a selection: a single file passes through, everything else becomes one archive in
// the temporary folder, read back here by Python's zipfile (the zip writer's reader).

#include "core/FilePreparationService.h"
#include "core/LocalFileProtectionService.h"
#include "core/Cancellation.h"
#include "core/NativePath.h"
#include "fixtures/TestFiles.h"
#include "zip/ArchiveError.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

nlohmann::json listArchive(const QString& path) { return testing_support::pythonListing(path.toStdString())["entries"]; }

// The entries' names, and their data after "=" where `data` lists them.
QStringList namesOf(const nlohmann::json& entries, bool data = false)
{
    QStringList names;
    for (const auto& entry : entries)
        names << QString::fromStdString(entry["name"].get<std::string>() + (data ? "=" + entry["data"].get<std::string>() : ""));
    return names;
}

class FilePreparation : public ::testing::Test {
protected:
    QString src(const QString& relative) const { return sources.filePath(relative); }
    void write(const QString& relative, const QByteArray& content) const { testfiles::writeFile(src(relative), content); }
    QStringList leftovers() const { return QDir(temporary.path()).entryList(QDir::Files | QDir::Hidden); }
    nlohmann::json bundle(const QStringList& selection) const
    {
        return listArchive(FilePreparationService::prepare(selection, temporary.path()).url);
    }

    QTemporaryDir sources, temporary;
};

} // namespace

TEST_F(FilePreparation, FolderBecomesAnArchiveOfItsVisibleFiles)
{
    write("Album/cover.jpg", "jpg");
    write("Album/disc 1/01 Intro.flac", "flac");
    write("Album/disc 1/deeper/still/notes.txt", "notes");
    write("Album/.DS_Store", "hidden file");
    write("Album/.git/config", "inside a hidden folder");
    QDir().mkpath(src("Album/empty/nested-empty"));
    ASSERT_EQ(::symlink("cover.jpg", src("Album/cover-link").toUtf8().constData()), 0);

    const PreparedInput prepared = FilePreparationService::prepare({src("Album/")}, temporary.path());
    static const QRegularExpression bundleName(
        "^korvo-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.zip$");
    EXPECT_TRUE(bundleName.match(prepared.displayName).hasMatch()) << prepared.displayName.toStdString();
    const QString url = QDir(temporary.path()).filePath(prepared.displayName);
    EXPECT_EQ(std::tuple(prepared.url, prepared.cleanupURL, leftovers(), prepared.skippedNote()),   // a hidden folder counts once
              std::tuple(url, std::optional(url), QStringList{prepared.displayName}, QStringLiteral("2 hidden items were left out.")));

    const nlohmann::json entries = listArchive(prepared.url);
    QStringList names = namesOf(entries, true);
    names.sort();
    EXPECT_EQ(names, (QStringList{"Album/cover-link=cover.jpg", "Album/cover.jpg=jpg", "Album/disc 1/01 Intro.flac=flac",
                                  "Album/disc 1/deeper/still/notes.txt=notes"}));
    for (const auto& entry : entries)   // the link is stored as a link, not followed
        EXPECT_EQ(entry["mode"].get<int>() & 0170000, entry["name"] == "Album/cover-link" ? 0120000 : 0100000);
}

// Unpacking keeps one file per name, so a name met again is numbered before its extension.
TEST_F(FilePreparation, EntriesFollowTheSelectionAndSameNamesAreNumbered)
{
    for (const char* folder : {"a", "b", "c"}) {
        write(QString("%1/notes.txt").arg(folder), folder);
        write(QString("%1/.profile").arg(folder), folder);
    }
    write("x/Photos/one.jpg", "1");
    write("y/Photos/one.jpg", "2");
    write("y/Photos/two.jpg", "3");
    EXPECT_EQ(namesOf(bundle({src("a/notes.txt"), src("b/notes.txt"), src("c/notes.txt"), src("a/.profile"),
                              src("b/.profile"), src("x/Photos/"), src("y/Photos/")}), true),
              (QStringList{"notes.txt=a", "notes (2).txt=b", "notes (3).txt=c", ".profile=a", ".profile (2)=b",
                           "Photos/one.jpg=1", "Photos/one (2).jpg=2", "Photos/two.jpg=3"}));

    write("readme.md", "top");
    write("Project/src/main.c", "code");
    EXPECT_EQ(namesOf(bundle({src("readme.md"), src("Project/")})), (QStringList{"readme.md", "Project/src/main.c"}));
    // Among several items a folder is recognised on disk even without its trailing "/".
    EXPECT_EQ(namesOf(bundle({src("readme.md"), src("Project")})), (QStringList{"readme.md", "Project/src/main.c"}));
    // Whatever the paths look like, entry names are relative and never climb.
    EXPECT_EQ(namesOf(bundle({src("Project/src/../"), src("Project/src/./../../readme.md")})),
              (QStringList{"Project/src/main.c", "readme.md"}));
}

TEST_F(FilePreparation, FailuresAreReportedPlainlyAndLeaveNoPartialArchive)
{
    using testfiles::thrown;
    const auto empty = thrown<FilePreparationError>([&] { FilePreparationService::prepare({}, temporary.path()); }).value();
    EXPECT_EQ(std::pair(empty.kind(), empty.message()),
              std::pair(FilePreparationError::Kind::noFiles, QStringLiteral("Choose at least one file or folder.")));

    write("present.txt", QByteArray(3 << 20, 'p'));  // already written when the next fails
    // The writer's own error comes through unchanged.
    const auto missing = thrown<zip::ArchiveError>(
        [&] { FilePreparationService::prepare({src("present.txt"), src("missing.txt")}, temporary.path()); }).value();
    EXPECT_EQ(std::pair(missing.kind(), std::string(missing.what())),
              std::pair(zip::ArchiveError::Kind::fileNotFound, std::string("The file “missing.txt” does not exist.")));
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(' ').toStdString();
    Cancellation cancel;
    cancel.request();
    EXPECT_THROW(FilePreparationService::prepare({src("present.txt"), src("present.txt")}, temporary.path(), &cancel),
                 OperationCancelled);
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(' ').toStdString();

    const auto unwritable = thrown<FilePreparationError>([&] {
        FilePreparationService::prepare({src("present.txt"), src("present.txt")}, temporary.filePath("no/such/folder"));
    }).value();
    EXPECT_EQ(std::pair(unwritable.kind(), unwritable.message()),
              std::pair(FilePreparationError::Kind::zipFailed, QStringLiteral("Could not prepare a zip archive.")));
}

// Names whose bytes are not UTF-8 travel through the engine's text paths with their bytes.
TEST_F(FilePreparation, NamesThatAreNotUtf8KeepTheirBytes)
{
    const QByteArray names[] = {"plain", "caf\xE9", "\xFF\xFE", "Zo\xC3\xAB", "cut\xC3", "\xED\xA0\x80",
                                "\xF0\x90\x82\x80" /* U+10080: its low surrogate is U+DC80 */, "\xC0\xAF",
                                "\xF4\x90\x80\x80"};
    for (const QByteArray& name : names) {
        const QString carried = NativePath::fromNative(name);
        EXPECT_EQ(NativePath::toNative(carried), name) << name.toHex().constData();
        if (QString::fromUtf8(name).toUtf8() == name) {
            EXPECT_EQ(carried, QString::fromUtf8(name)) << "UTF-8 names are plain text";
        }
    }
    EXPECT_EQ(NativePath::toNative(NativePath::fromUrl(QUrl("file:///tmp/caf%E9%20%C3%A9"))), "/tmp/caf\xE9 \xC3\xA9");
    EXPECT_EQ(NativePath::displayText(NativePath::fromNative("a\xE9")), QString::fromUtf8("a\uFFFD"));

    // The same name after a lossy decoding elsewhere names no file: say so, not "could not be read".
    const QString changed = QString::fromUtf8(NativePath::toNative(sources.path()) + "/caf\xE9.txt");
    const QByteArray key(32, 'k');
    const QString sentence = QString::fromUtf8("The name of “caf\uFFFD.txt” is not valid UTF-8 and reached Korvo "
                                               "changed, so the file cannot be found; rename it and try again.");
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { LocalFileProtectionService::protect(changed, changed + ".korvolocal", key); },
             [&] { LocalFileProtectionService::open(changed, changed + ".out", key); },
             [&] { FilePreparationService::prepare({changed, changed}, temporary.path()); }}) {
        const auto error = testfiles::thrown<KorvoError>(call);
        EXPECT_EQ(error ? error->message() : "", sentence);
    }
}

// Sockets, pipes and devices are neither files nor folders: they are left out and counted,
// inside folders and among the selected items alike.
TEST_F(FilePreparation, SpecialFilesAreSkippedAndCountedAndOneFileIsUsedAsItIs)
{
    write("box/kept.txt", "kept");
    ASSERT_EQ(::mkfifo(QFile::encodeName(src("box/pipe")).constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(src("selected-pipe")).constData(), 0600), 0);
    ASSERT_EQ(::mknod(QFile::encodeName(src("box/s.sock")).constData(), S_IFSOCK | 0600, 0), 0);
    ASSERT_EQ(::symlink("/dev/null", QFile::encodeName(src("box/device-link")).constData()), 0);

    const PreparedInput prepared =
        FilePreparationService::prepare({src("box/"), src("selected-pipe"), "/dev/null"}, temporary.path());
    QStringList names = namesOf(listArchive(prepared.url));
    names.sort();
    EXPECT_EQ(names, (QStringList{"box/device-link", "box/kept.txt"}));   // a link is stored, not followed
    EXPECT_EQ(prepared.skippedNote(), "4 items were left out: they are not files, folders or links.");
    write("box/.cache", "hidden");
    EXPECT_EQ(FilePreparationService::prepare({src("box/"), "/dev/null"}, temporary.path()).skippedNote(),
              "3 items were left out: they are not files, folders or links. 1 hidden item was left out.");

    // One file is used as it is, without asking the disk: even a path that is not there yet.
    QDir(temporary.path()).removeRecursively();
    for (const QString& path : {src("box/kept.txt"), src("not-there.txt")}) {
        const PreparedInput single = FilePreparationService::prepare({path}, temporary.path());
        EXPECT_EQ(std::tuple(single.url, single.cleanupURL, single.displayName, single.skippedNote()),
                  std::tuple(path, std::optional<QString>(), QFileInfo(path).fileName(), QString()));
    }
    EXPECT_FALSE(QFileInfo::exists(temporary.path()));
}
