#include "core/FilePreparationService.h"

#include "core/Cancellation.h"
#include "core/NativePath.h"
#include "zip/Archive.h"

#include <QUuid>

#include <cerrno>
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

enum class ItemKind { folder, entry, special };

ItemKind kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return ItemKind::folder;
    return S_ISREG(mode) || S_ISLNK(mode) ? ItemKind::entry : ItemKind::special;
}

struct FolderItem {
    std::string name;
    ItemKind kind;
};

// The visible items of one folder in the file system's order. Hidden items (names starting
// with ".") are left out, and with a hidden folder everything inside it.
std::vector<FolderItem> visibleItems(const std::string& folderPath)
{
    DIR* folder = ::opendir(folderPath.c_str());
    if (folder == nullptr) {   // named, as an unreadable file in it would be
        using Kind = zip::ArchiveError::Kind;
        throw zip::ArchiveError(errno == EACCES ? Kind::fileReadPermission : Kind::unreadableFile, folderPath, errno);
    }
    std::vector<FolderItem> items;
    while (const dirent* item = ::readdir(folder)) {
        if (item->d_name[0] == '.')
            continue;
        ItemKind kind = item->d_type == DT_DIR ? ItemKind::folder
            : item->d_type == DT_REG || item->d_type == DT_LNK ? ItemKind::entry
                                                               : ItemKind::special;
        if (item->d_type == DT_UNKNOWN) {
            const std::string path = folderPath + '/' + item->d_name;
            struct stat info {};
            if (::lstat(path.c_str(), &info) != 0) {
                const int error = errno;
                ::closedir(folder);
                throw zip::ArchiveError(zip::ArchiveError::Kind::unreadableFile, path, error);
            }
            kind = kindOf(info.st_mode);
        }
        items.push_back({item->d_name, kind});
    }
    ::closedir(folder);
    return items;
}

// Fills one archive from the selection. Regular files and links (not followed) become entries,
// folders are walked, and anything else (sockets, pipes, devices) is skipped and counted.
class Bundler {
public:
    Bundler(zip::Archive& archive, const Cancellation* cancel) : m_archive(archive), m_cancel(cancel) {}

    void addItem(const QString& url)
    {
        throwIfCancelled();
        UnrepresentableNameError::throwIfChanged(url);
        // Named after the last component of the cleaned path, so "a/b/.." is "a"; the root
        // folder has no name and its contents go to the top level.
        const QString cleaned = QDir::cleanPath(url);
        const std::string rootName = NativePath::toNative(cleaned.section(QLatin1Char('/'), -1)).toStdString();
        const std::string path = NativePath::toNative(cleaned).toStdString();
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            addFolderContents(path, rootName.empty() ? rootName : rootName + '/');
        else if (::lstat(path.c_str(), &info) == 0 && kindOf(info.st_mode) == ItemKind::special)
            ++m_skipped;
        else
            m_archive.addEntry(rootName, path);   // a missing file is reported by the writer
    }

    int skipped() const { return m_skipped; }

private:
    // Adds everything below `folderPath` as `entryPrefix` + its relative path. Folders
    // themselves leave no entry.
    void addFolderContents(const std::string& folderPath, const std::string& entryPrefix)
    {
        for (const FolderItem& item : visibleItems(folderPath)) {
            throwIfCancelled();
            const std::string path = folderPath + '/' + item.name;
            switch (item.kind) {
            case ItemKind::folder: addFolderContents(path, entryPrefix + item.name + '/'); break;
            case ItemKind::entry: m_archive.addEntry(entryPrefix + item.name, path); break;
            case ItemKind::special: ++m_skipped; break;
            }
        }
    }

    void throwIfCancelled() const
    {
        if (m_cancel)
            m_cancel->throwIfRequested();
    }

    zip::Archive& m_archive;
    const Cancellation* m_cancel;
    int m_skipped = 0;
};

} // namespace

QString PreparedInput::skippedNote() const
{
    if (skippedItems <= 0)
        return {};
    return skippedItems == 1 ? QStringLiteral("1 item was left out: it is not a file, folder or link.")
                             : QStringLiteral("%1 items were left out: they are not files, folders or links.")
                                   .arg(skippedItems);
}

FilePreparationError::FilePreparationError(Kind kind)
    : KorvoError(QString::fromUtf8(kind == Kind::noFiles ? noFilesText : zipFailedText)), m_kind(kind)
{
}

namespace FilePreparationService {

int writeBundle(const QStringList& urls, const QString& archivePath, const Cancellation* cancel)
{
    if (urls.isEmpty())
        throw FilePreparationError::noFiles();
    const QByteArray nativePath = NativePath::toNative(archivePath);
    std::optional<zip::Archive> archive;
    try {
        archive.emplace(nativePath.toStdString());
    } catch (const zip::ArchiveError&) {
        throw FilePreparationError::zipFailed();
    }
    ScratchFiles::track(nativePath);
    try {
        if (cancel)
            archive->setCancellation(cancel->flag());
        Bundler bundler(*archive, cancel);
        for (const QString& url : urls)
            bundler.addItem(url);
        archive->close();
        return bundler.skipped();
    } catch (...) {
        // Held open while the name goes, so that neither waits for the bundle's blocks.
        const int held = ScratchFiles::holdOpen(nativePath);
        archive->abandon();
        ScratchFiles::removeSoon(nativePath, held);   // close() may have failed after giving up the file
        if (cancel && cancel->requested())
            throw OperationCancelled();
        throw;
    }
}

PreparedInput prepare(const QStringList& urls, const QString& temporaryDirectory, const Cancellation* cancel)
{
    if (urls.isEmpty())
        throw FilePreparationError::noFiles();
    if (urls.size() == 1 && !urls.first().endsWith(QLatin1Char('/'))) {
        const QString& url = urls.first();
        return PreparedInput{url, std::nullopt, lastPathComponent(url)};
    }
    const QString name = bundlePrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + bundleExtension;
    const QString archivePath = QDir(temporaryDirectory).filePath(name);
    const int skipped = writeBundle(urls, archivePath, cancel);
    return PreparedInput{archivePath, archivePath, name, skipped};
}

void removeBundle(const PreparedInput& prepared)
{
    if (!prepared.cleanupURL)
        return;
    const QByteArray nativePath = NativePath::toNative(*prepared.cleanupURL);
    ::unlink(nativePath.constData());
    ScratchFiles::release(nativePath);
}

} // namespace FilePreparationService
