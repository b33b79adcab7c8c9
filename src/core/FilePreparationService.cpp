#include "core/FilePreparationService.h"

#include "core/local/NativePath.h"
#include "zip/Archive.h"

#include <QUuid>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace {

const char* const noFilesText = "Choose at least one file or folder.";
const char* const zipFailedText = "Could not prepare a zip archive.";

const QString bundlePrefix = QStringLiteral("korvo-");
const QString bundleExtension = QStringLiteral(".zip");

QString lastPathComponent(const QString& url)
{
    qsizetype end = url.size();
    while (end > 1 && url.at(end - 1) == QLatin1Char('/'))
        --end;
    const QString trimmed = url.left(end);
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

struct FolderItem {
    std::string name;
    bool isDirectory;
};

// The visible items of one folder in the file system's order. Hidden items (names starting
// with ".") are left out, and with a hidden folder everything inside it.
std::vector<FolderItem> visibleItems(const std::string& folderPath)
{
    DIR* folder = ::opendir(folderPath.c_str());
    if (folder == nullptr)
        throw FilePreparationError::zipFailed();
    std::vector<FolderItem> items;
    while (const dirent* item = ::readdir(folder)) {
        if (item->d_name[0] == '.')
            continue;
        bool isDirectory = item->d_type == DT_DIR;
        if (item->d_type == DT_UNKNOWN) {
            const std::string path = folderPath + '/' + item->d_name;
            struct stat info {};
            if (::lstat(path.c_str(), &info) != 0) {
                const int error = errno;
                ::closedir(folder);
                throw zip::ArchiveError(zip::ArchiveError::Kind::unreadableFile, path, error);
            }
            isDirectory = S_ISDIR(info.st_mode);
        }
        items.push_back({item->d_name, isDirectory});
    }
    ::closedir(folder);
    return items;
}

// Adds every file below `folderPath` (links not followed) as `entryPrefix` + its relative path.
// Folders themselves leave no entry.
void addFolderContents(zip::Archive& archive, const std::string& folderPath, const std::string& entryPrefix)
{
    for (const FolderItem& item : visibleItems(folderPath)) {
        const std::string path = folderPath + '/' + item.name;
        const std::string entryPath = entryPrefix + item.name;
        if (item.isDirectory)
            addFolderContents(archive, path, entryPath + '/');
        else
            archive.addEntry(entryPath, path);
    }
}

void addItem(zip::Archive& archive, const QString& url)
{
    UnrepresentableNameError::throwIfChanged(url);
    // Named after the last component of the cleaned path, so "a/b/.." is "a"; the root folder
    // has no name and its contents go to the top level.
    const QString cleaned = QDir::cleanPath(url);
    const std::string rootName = NativePath::toNative(cleaned.section(QLatin1Char('/'), -1)).toStdString();
    const std::string path = NativePath::toNative(cleaned).toStdString();
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        addFolderContents(archive, path, rootName.empty() ? rootName : rootName + '/');
        return;
    }
    // Not a folder, or not there at all: the writer reports a missing file itself.
    archive.addEntry(rootName, path);
}

} // namespace

FilePreparationError::FilePreparationError(Kind kind)
    : KorvoError(QString::fromUtf8(kind == Kind::noFiles ? noFilesText : zipFailedText)), m_kind(kind)
{
}

namespace FilePreparationService {

void writeBundle(const QStringList& urls, const QString& archivePath)
{
    if (urls.isEmpty())
        throw FilePreparationError::noFiles();
    std::optional<zip::Archive> archive;
    try {
        archive.emplace(NativePath::toNative(archivePath).toStdString());
    } catch (const zip::ArchiveError&) {
        throw FilePreparationError::zipFailed();
    }
    try {
        for (const QString& url : urls)
            addItem(*archive, url);
        archive->close();
    } catch (...) {
        archive->abandon();
        ::unlink(NativePath::toNative(archivePath).constData());  // close() may have failed after giving up the file
        throw;
    }
}

PreparedInput prepare(const QStringList& urls, const QString& temporaryDirectory)
{
    if (urls.isEmpty())
        throw FilePreparationError::noFiles();
    if (urls.size() == 1 && !urls.first().endsWith(QLatin1Char('/'))) {
        const QString& url = urls.first();
        return PreparedInput{url, std::nullopt, lastPathComponent(url)};
    }
    const QString name = bundlePrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + bundleExtension;
    const QString archivePath = QDir(temporaryDirectory).filePath(name);
    writeBundle(urls, archivePath);
    return PreparedInput{archivePath, archivePath, name};
}

} // namespace FilePreparationService
