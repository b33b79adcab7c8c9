#include "core/FilePreparationService.h"

#include "core/Cancellation.h"
#include "core/NativePath.h"
#include "zip/Archive.h"

#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
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

// A file as the system tells files apart, whatever path leads to it.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> identityOf(const std::string& path, int flags = AT_SYMLINK_NOFOLLOW)
{
    struct stat info {};
    if (::fstatat(AT_FDCWD, path.c_str(), &info, flags) != 0)
        return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino};
}

// A file never to pack, and the folder it is in.
struct LeftOutFile {
    FileIdentity file;
    FileIdentity folder;
};

struct FolderListing {
    std::vector<FolderItem> visible;   // in the file system's order
    std::vector<FolderItem> hidden;    // names starting with "."
    FileIdentity identity;
};

// The items of one folder. Hidden items (names starting with ".") are listed apart: they are
// left out, and with a hidden folder everything inside it.
FolderListing listFolder(const std::string& folderPath)
{
    DIR* folder = ::opendir(folderPath.c_str());
    if (folder == nullptr) {   // named, as an unreadable file in it would be
        using Kind = zip::ArchiveError::Kind;
        throw zip::ArchiveError(errno == EACCES ? Kind::fileReadPermission : Kind::unreadableFile, folderPath, errno);
    }
    FolderListing listing;
    struct stat folderInfo {};
    if (::fstat(::dirfd(folder), &folderInfo) == 0)
        listing.identity = {folderInfo.st_dev, folderInfo.st_ino};
    while (const dirent* item = ::readdir(folder)) {
        const std::string_view name = item->d_name;
        if (name == "." || name == "..")
            continue;
        ItemKind kind = item->d_type == DT_DIR ? ItemKind::folder
            : item->d_type == DT_REG || item->d_type == DT_LNK ? ItemKind::entry
                                                               : ItemKind::special;
        if (item->d_type == DT_UNKNOWN && name.front() != '.') {
            const std::string path = folderPath + '/' + item->d_name;
            struct stat info {};
            if (::lstat(path.c_str(), &info) != 0) {
                const int error = errno;
                ::closedir(folder);
                throw zip::ArchiveError(zip::ArchiveError::Kind::unreadableFile, path, error);
            }
            kind = kindOf(info.st_mode);
        }
        (name.front() == '.' ? listing.hidden : listing.visible).push_back({item->d_name, kind});
    }
    ::closedir(folder);
    return listing;
}

// "report.pdf" -> "report (2).pdf": a number before the extension of the last component (a
// name that starts with its only dot has none).
std::string numberedName(const std::string& name, int number)
{
    const std::size_t slash = name.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot <= start)
        dot = name.size();
    return name.substr(0, dot) + " (" + std::to_string(number) + ')' + name.substr(dot);
}

// Fills one archive from the selection. Regular files and links (not followed) become entries,
// folders are walked, and anything else (sockets, pipes, devices) is skipped and counted, as are
// hidden items inside folders. Entries never share a name: unpacking would keep only one.
class Bundler {
public:
    Bundler(zip::Archive& archive, std::vector<LeftOutFile> leaveOut, const Cancellation* cancel)
        : m_archive(archive), m_leaveOut(std::move(leaveOut)), m_cancel(cancel)
    {
    }

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
        else if (::lstat(path.c_str(), &info) != 0)
            addEntry(rootName, path);   // a missing file is reported by the writer
        else if (kindOf(info.st_mode) == ItemKind::special)
            ++m_leftOut.special;
        else if (!isLeftOut({info.st_dev, info.st_ino}))
            addEntry(rootName, path);
    }

    LeftOut leftOut() const { return m_leftOut; }

private:
    // Adds everything below `folderPath` as `entryPrefix` + its relative path. Folders
    // themselves leave no entry.
    void addFolderContents(const std::string& folderPath, const std::string& entryPrefix)
    {
        const FolderListing listing = listFolder(folderPath);
        // Only the folders that hold a file to leave out need a closer look at each name.
        const bool holdsLeftOut = std::any_of(m_leaveOut.begin(), m_leaveOut.end(),
                                              [&](const LeftOutFile& file) { return file.folder == listing.identity; });
        const auto leftOutHere = [&](const std::string& path) {
            const auto identity = holdsLeftOut ? identityOf(path) : std::nullopt;
            return identity && isLeftOut(*identity);
        };
        for (const FolderItem& item : listing.hidden)
            m_leftOut.hidden += leftOutHere(folderPath + '/' + item.name) ? 0 : 1;   // not a scratch name of ours
        for (const FolderItem& item : listing.visible) {
            throwIfCancelled();
            const std::string path = folderPath + '/' + item.name;
            switch (item.kind) {
            case ItemKind::folder: addFolderContents(path, entryPrefix + item.name + '/'); break;
            case ItemKind::entry:
                if (!leftOutHere(path))
                    addEntry(entryPrefix + item.name, path);
                break;
            case ItemKind::special: ++m_leftOut.special; break;
            }
        }
    }

    void addEntry(const std::string& name, const std::string& path)
    {
        std::string unique = name;
        for (int number = 2; !m_names.insert(unique).second; ++number)
            unique = numberedName(name, number);
        m_archive.addEntry(unique, path);
    }

    bool isLeftOut(const FileIdentity& identity) const
    {
        return std::any_of(m_leaveOut.begin(), m_leaveOut.end(),
                           [&](const LeftOutFile& file) { return file.file == identity; });
    }

    void throwIfCancelled() const
    {
        if (m_cancel)
            m_cancel->throwIfRequested();
    }

    zip::Archive& m_archive;
    std::vector<LeftOutFile> m_leaveOut;
    const Cancellation* m_cancel;
    std::unordered_set<std::string> m_names;
    LeftOut m_leftOut;
};

// Fills the archive; on any failure it is abandoned and the error passed on (as cancelled when
// the caller asked to stop).
LeftOut fill(zip::Archive& archive, const QStringList& urls, std::vector<LeftOutFile> leaveOut,
             const Cancellation* cancel, const std::function<void()>& abandon)
{
    try {
        if (cancel)
            archive.setCancellation(cancel->flag());
        Bundler bundler(archive, std::move(leaveOut), cancel);
        for (const QString& url : urls)
            bundler.addItem(url);
        archive.close();
        return bundler.leftOut();
    } catch (...) {
        abandon();
        if (cancel && cancel->requested())
            throw OperationCancelled();
        throw;
    }
}

// The files at these paths (links themselves, not followed), with their folders.
std::vector<LeftOutFile> leftOutFiles(const QStringList& paths)
{
    std::vector<LeftOutFile> files;
    for (const QString& path : paths) {
        const QByteArray native = NativePath::toNative(path);
        const qsizetype slash = native.lastIndexOf('/');
        const auto file = identityOf(native.toStdString());
        const auto folder = identityOf(slash <= 0 ? std::string(slash == 0 ? "/" : ".") : native.left(slash).toStdString(),
                                       0);
        if (file && folder)
            files.push_back({*file, *folder});
    }
    return files;
}

} // namespace

QString LeftOut::note() const
{
    QStringList sentences;
    if (special > 0)
        sentences << (special == 1 ? QStringLiteral("1 item was left out: it is not a file, folder or link.")
                                   : QStringLiteral("%1 items were left out: they are not files, folders or links.")
                                         .arg(special));
    if (hidden > 0)
        sentences << (hidden == 1 ? QStringLiteral("1 hidden item was left out.")
                                  : QStringLiteral("%1 hidden items were left out.").arg(hidden));
    return sentences.join(QLatin1Char(' '));
}

FilePreparationError::FilePreparationError(Kind kind)
    : KorvoError(QString::fromUtf8(kind == Kind::noFiles ? noFilesText : zipFailedText)), m_kind(kind)
{
}

namespace FilePreparationService {

LeftOut writeBundle(const QStringList& urls, const QString& archivePath, const Cancellation* cancel)
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
    return fill(*archive, urls, leftOutFiles({archivePath}), cancel, [&] {
        // Held open while the name goes, so that neither waits for the bundle's blocks.
        const int held = ScratchFiles::holdOpen(nativePath);
        archive->abandon();
        ScratchFiles::removeSoon(nativePath, held);   // close() may have failed after giving up the file
    });
}

LeftOut writeBundleTo(int fd, const QString& archivePath, const QStringList& urls, const QStringList& leaveOut,
                      const Cancellation* cancel)
{
    if (urls.isEmpty())
        throw FilePreparationError::noFiles();
    // The archive itself, even when it has no name (then no folder lists it either).
    std::vector<LeftOutFile> leftOut = leftOutFiles(leaveOut);
    struct stat info {};
    if (::fstat(fd, &info) == 0)
        leftOut.push_back({{info.st_dev, info.st_ino}, {}});
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    const std::string name = NativePath::toNative(archivePath).toStdString();
    if (own < 0)
        throw zip::ArchiveError(zip::ArchiveError::Kind::unwritableArchive, name, errno);
    zip::Archive archive(own, name);
    return fill(archive, urls, leftOut, cancel, [&] { archive.abandon(); });
}

bool bundles(const QStringList& urls)
{
    return urls.size() != 1 || urls.first().endsWith(QLatin1Char('/'));
}

PreparedInput prepare(const QStringList& urls, const QString& temporaryDirectory, const Cancellation* cancel)
{
    if (urls.isEmpty())
        throw FilePreparationError::noFiles();
    if (!bundles(urls)) {
        const QString& url = urls.first();
        return PreparedInput{url, std::nullopt, lastPathComponent(url)};
    }
    const QString name = bundlePrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + bundleExtension;
    const QString archivePath = QDir(temporaryDirectory).filePath(name);
    const LeftOut leftOut = writeBundle(urls, archivePath, cancel);
    return PreparedInput{archivePath, archivePath, name, leftOut};
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
