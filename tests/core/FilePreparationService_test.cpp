// Preparing a selection: a single file passes through, everything else becomes one archive in
// the temporary folder, read back here by Python's zipfile.

#include "core/FilePreparationService.h"
#include "zip/ArchiveError.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

struct Listed {
    QString name;
    QByteArray data;
    int mode;
};

// Entries in archive order, as an independent reader sees them.
QList<Listed> listArchive(const QString& path)
{
    const char* script =
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1]) as z:\n"
        "    for i in z.infolist():\n"
        "        sys.stdout.write('%s\\t%s\\t%d\\n' % (i.filename, z.read(i).hex(), i.external_attr >> 16))\n";
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(script), path});
    python.waitForFinished(60000);
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    QList<Listed> entries;
    for (const QByteArray& line : python.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() == 3)
            entries.append({QString::fromUtf8(fields[0]), QByteArray::fromHex(fields[1]), fields[2].toInt()});
    }
    return entries;
}

QStringList namesOf(const QList<Listed>& entries)
{
    QStringList names;
    for (const Listed& entry : entries)
        names << entry.name;
    return names;
}

void write(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

class FilePreparation : public ::testing::Test {
protected:
    QTemporaryDir sources;
    QTemporaryDir temporary;
    QString src(const QString& relative) const { return sources.filePath(relative); }
    QStringList leftovers() const { return QDir(temporary.path()).entryList(QDir::Files | QDir::Hidden); }
};

} // namespace

TEST_F(FilePreparation, EmptySelectionAsksForAFile)
{
    try {
        FilePreparationService::prepare({}, temporary.path());
        FAIL() << "an empty selection was prepared";
    } catch (const FilePreparationError& error) {
        EXPECT_EQ(error.kind(), FilePreparationError::Kind::noFiles);
        EXPECT_EQ(error.message(), QStringLiteral("Choose at least one file or folder."));
    }
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(FilePreparation, OneFileIsUsedAsItIs)
{
    // The disk is not asked: even a path that does not exist yet passes through untouched.
    for (const QString& path : {src(QStringLiteral("report.pdf")), src(QStringLiteral("not-there.txt"))}) {
        if (path.endsWith(QStringLiteral(".pdf")))
            write(path, "pdf");
        const PreparedInput prepared = FilePreparationService::prepare({path}, temporary.path());
        EXPECT_EQ(prepared.url, path);
        EXPECT_FALSE(prepared.cleanupURL.has_value());
        EXPECT_EQ(prepared.displayName, QFileInfo(path).fileName());
    }
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(FilePreparation, FolderBecomesAnArchiveOfItsVisibleFiles)
{
    write(src(QStringLiteral("Album/cover.jpg")), "jpg");
    write(src(QStringLiteral("Album/disc 1/01 Intro.flac")), "flac");
    write(src(QStringLiteral("Album/disc 1/deeper/still/notes.txt")), "notes");
    write(src(QStringLiteral("Album/.DS_Store")), "hidden file");
    write(src(QStringLiteral("Album/.git/config")), "inside a hidden folder");
    QDir().mkpath(src(QStringLiteral("Album/empty/nested-empty")));
    ASSERT_EQ(::symlink("cover.jpg", src(QStringLiteral("Album/cover-link")).toUtf8().constData()), 0);

    const PreparedInput prepared = FilePreparationService::prepare({src(QStringLiteral("Album/"))}, temporary.path());

    static const QRegularExpression bundleName(
        QStringLiteral("^korvo-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.zip$"));
    EXPECT_TRUE(bundleName.match(prepared.displayName).hasMatch()) << prepared.displayName.toStdString();
    EXPECT_EQ(prepared.url, QDir(temporary.path()).filePath(prepared.displayName));
    ASSERT_TRUE(prepared.cleanupURL.has_value());
    EXPECT_EQ(*prepared.cleanupURL, prepared.url);
    EXPECT_EQ(leftovers(), QStringList{prepared.displayName});

    const QList<Listed> entries = listArchive(prepared.url);
    QStringList names = namesOf(entries);
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("Album/cover-link"), QStringLiteral("Album/cover.jpg"),
                                  QStringLiteral("Album/disc 1/01 Intro.flac"),
                                  QStringLiteral("Album/disc 1/deeper/still/notes.txt")}));
    for (const Listed& entry : entries) {
        if (entry.name.endsWith(QStringLiteral("cover-link"))) {
            EXPECT_EQ(entry.mode & 0170000, 0120000);  // stored as a link, not followed
            EXPECT_EQ(entry.data, QByteArray("cover.jpg"));
        } else if (entry.name.endsWith(QStringLiteral("notes.txt"))) {
            EXPECT_EQ(entry.data, QByteArray("notes"));
        }
    }
}

TEST_F(FilePreparation, SameNamesAreKeptNotMerged)
{
    write(src(QStringLiteral("a/notes.txt")), "first");
    write(src(QStringLiteral("b/notes.txt")), "second");
    write(src(QStringLiteral("x/Photos/one.jpg")), "1");
    write(src(QStringLiteral("y/Photos/two.jpg")), "2");
    const PreparedInput prepared = FilePreparationService::prepare(
        {src(QStringLiteral("a/notes.txt")), src(QStringLiteral("b/notes.txt")), src(QStringLiteral("x/Photos/")),
         src(QStringLiteral("y/Photos/"))},
        temporary.path());
    const QList<Listed> entries = listArchive(prepared.url);
    ASSERT_EQ(entries.size(), 4);
    EXPECT_EQ(namesOf(entries), (QStringList{QStringLiteral("notes.txt"), QStringLiteral("notes.txt"),
                                             QStringLiteral("Photos/one.jpg"), QStringLiteral("Photos/two.jpg")}));
    EXPECT_EQ(entries[0].data, QByteArray("first"));
    EXPECT_EQ(entries[1].data, QByteArray("second"));
}

TEST_F(FilePreparation, EntriesFollowTheSelectionOrder)
{
    write(src(QStringLiteral("readme.md")), "top");
    write(src(QStringLiteral("Project/src/main.c")), "code");
    const QString file = src(QStringLiteral("readme.md"));
    const QString folder = src(QStringLiteral("Project/"));

    EXPECT_EQ(namesOf(listArchive(FilePreparationService::prepare({file, folder}, temporary.path()).url)),
              (QStringList{QStringLiteral("readme.md"), QStringLiteral("Project/src/main.c")}));
    EXPECT_EQ(namesOf(listArchive(FilePreparationService::prepare({folder, file}, temporary.path()).url)),
              (QStringList{QStringLiteral("Project/src/main.c"), QStringLiteral("readme.md")}));
    // Among several items a folder is recognised on disk even without its trailing "/".
    EXPECT_EQ(namesOf(listArchive(
                  FilePreparationService::prepare({file, src(QStringLiteral("Project"))}, temporary.path()).url)),
              (QStringList{QStringLiteral("readme.md"), QStringLiteral("Project/src/main.c")}));
}

TEST_F(FilePreparation, FailureLeavesNoPartialArchive)
{
    write(src(QStringLiteral("present.txt")), QByteArray(3 << 20, 'p'));  // already written when the next fails
    try {
        FilePreparationService::prepare({src(QStringLiteral("present.txt")), src(QStringLiteral("missing.txt"))},
                                        temporary.path());
        FAIL() << "a missing file was bundled";
    } catch (const zip::ArchiveError& error) {
        // The writer's own error comes through unchanged.
        EXPECT_EQ(error.kind(), zip::ArchiveError::Kind::fileNotFound);
        EXPECT_STREQ(error.what(), "The file “missing.txt” does not exist.");
    }
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(QLatin1Char(' ')).toStdString();
}

TEST_F(FilePreparation, ArchiveThatCannotBeCreatedIsReportedPlainly)
{
    write(src(QStringLiteral("a.txt")), "a");
    try {
        FilePreparationService::prepare({src(QStringLiteral("a.txt")), src(QStringLiteral("a.txt"))},
                                        temporary.filePath(QStringLiteral("no/such/folder")));
        FAIL() << "an archive was made in a folder that does not exist";
    } catch (const FilePreparationError& error) {
        EXPECT_EQ(error.kind(), FilePreparationError::Kind::zipFailed);
        EXPECT_EQ(error.message(), QStringLiteral("Could not prepare a zip archive."));
    }
}
