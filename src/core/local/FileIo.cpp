#include "core/local/FileIo.h"

#include "core/Cancellation.h"
#include "core/local/GcmCipher.h"
#include "core/NativePath.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept
{
    if (this != &other) {
        reset();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

bool FileHandle::close()
{
    if (m_fd < 0)
        return true;
    const int fd = m_fd;
    m_fd = -1;
    // After EINTR the descriptor is gone on Linux; retrying could close someone else's.
    return ::close(fd) == 0 || errno == EINTR;
}

void FileHandle::reset()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

FileHandle openForReading(const QString& path)
{
    const QByteArray native = NativePath::toNative(path);
    if (native.isEmpty())
        return {};
    FileHandle file(::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)); // never waits on a pipe
    struct stat info {};
    if (!file.isOpen() || ::fstat(file.fd(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(file.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return file;
}

qint64 sizeOf(const FileHandle& file)
{
    struct stat info {};
    if (!file.isOpen() || ::fstat(file.fd(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return static_cast<qint64>(info.st_size);
}

namespace {

// pread() and pwrite() for a positioned offset, read() and write() for none.
ssize_t readSome(int fd, std::uint8_t* buffer, std::size_t count, std::optional<std::uint64_t> offset)
{
    return offset ? ::pread(fd, buffer, count, static_cast<off_t>(*offset)) : ::read(fd, buffer, count);
}

ssize_t writeSome(int fd, const std::uint8_t* buffer, std::size_t count, std::optional<std::uint64_t> offset)
{
    return offset ? ::pwrite(fd, buffer, count, static_cast<off_t>(*offset)) : ::write(fd, buffer, count);
}

std::optional<std::size_t> readUpTo(int fd, std::uint8_t* buffer, std::size_t count, std::optional<std::uint64_t> offset)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = readSome(fd, buffer + done, count - done, offset ? std::optional(*offset + done) : std::nullopt);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool writeEverything(int fd, const std::uint8_t* buffer, std::size_t count, std::optional<std::uint64_t> offset)
{
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = writeSome(fd, buffer + done, count - done, offset ? std::optional(*offset + done) : std::nullopt);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::optional<std::size_t> readFullyAt(int fd, std::uint8_t* buffer, std::size_t count, std::uint64_t offset)
{
    return readUpTo(fd, buffer, count, offset);
}

std::optional<std::size_t> readFully(int fd, std::uint8_t* buffer, std::size_t count)
{
    return readUpTo(fd, buffer, count, std::nullopt);
}

bool writeAllAt(int fd, const std::uint8_t* buffer, std::size_t count, std::uint64_t offset)
{
    return writeEverything(fd, buffer, count, offset);
}

bool writeAll(int fd, const std::uint8_t* buffer, std::size_t count)
{
    return writeEverything(fd, buffer, count, std::nullopt);
}

namespace {

QByteArray folderOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray nameOf(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// A rename lives in its folder: flush that too. A folder that cannot be opened or flushed (some
// file systems refuse) leaves the rename as durable as the system makes it.
void syncFolderOf(const QByteArray& path)
{
    const FileHandle directory(::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.isOpen())
        ::fsync(directory.fd());
}

bool unsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP || error == EISDIR;
}

} // namespace

bool renameDurably(const QByteArray& from, const QByteArray& to)
{
    if (::rename(from.constData(), to.constData()) != 0)
        return false;
    syncFolderOf(to);
    return true;
}

bool renameWithoutReplacing(int fromFolder, const char* fromName, int toFolder, const char* toName)
{
    if (::renameat2(fromFolder, fromName, toFolder, toName, RENAME_NOREPLACE) == 0)
        return true;
    if (!unsupported(errno))
        return false;
    if (::linkat(fromFolder, fromName, toFolder, toName, 0) == 0) {
        ::unlinkat(fromFolder, fromName, 0);
        return true;
    }
    if (errno != EPERM && !unsupported(errno))
        return false;
    // Neither (some network and foreign file systems): look first, then rename.
    struct stat info {};
    if (::fstatat(toFolder, toName, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::renameat(fromFolder, fromName, toFolder, toName) == 0;
}

QString temporarySiblingPath(const QString& finalPath)
{
    // A short hidden name of its own, whatever the length of the final name.
    std::uint8_t random[8];
    if (finalPath.isEmpty() || !randomBytes(random, sizeof random))
        return {};
    const qsizetype slash = finalPath.lastIndexOf(QLatin1Char('/'));
    return finalPath.left(slash + 1) + QStringLiteral(".korvo-")
        + QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(random), sizeof random).toHex())
        + QStringLiteral(".partial");
}

ReplacingOutputFile::ReplacingOutputFile(const QString& finalPath, bool replaceExisting)
    : m_finalPath(NativePath::toNative(finalPath))
    , m_replaceExisting(replaceExisting)
{
    if (m_finalPath.isEmpty())
        return;
    // The folder is held open so that the file is put in place, or removed, even when someone
    // moves the folder away while it is being written.
    m_folder = openParentFolder(m_finalPath);
    if (!m_folder.isOpen())
        return;
    // 0666 so the process's umask gives the platform's default permissions.
    m_file = FileHandle(::openat(m_folder.fd(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (m_file.isOpen() || !unsupported(errno))
        return;
    for (int attempt = 0; attempt < 8 && !m_file.isOpen(); ++attempt) {
        m_temporaryPath = NativePath::toNative(temporarySiblingPath(finalPath));
        if (m_temporaryPath.isEmpty())
            return;
        m_file = FileHandle(::openat(m_folder.fd(), temporaryName().constData(),
                                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!m_file.isOpen() && errno != EEXIST)
            break;
    }
    if (m_file.isOpen())
        ScratchFiles::track(m_temporaryPath);
    else
        m_temporaryPath.clear();
}

FileHandle openParentFolder(const QByteArray& path)
{
    return FileHandle(::open(folderOf(path).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

QByteArray ReplacingOutputFile::temporaryName() const
{
    return nameOf(m_temporaryPath);
}

QString ReplacingOutputFile::readablePath() const
{
    if (!m_temporaryPath.isEmpty() || !m_file.isOpen())
        return NativePath::fromNative(m_temporaryPath);
    return QStringLiteral("/proc/self/fd/%1").arg(m_file.fd());
}

ReplacingOutputFile::~ReplacingOutputFile()
{
    discard();
}

void ReplacingOutputFile::startWriteBack(std::uint64_t offset, std::uint64_t length) const
{
    if (m_file.isOpen())
        ::sync_file_range(m_file.fd(), static_cast<off64_t>(offset), static_cast<off64_t>(length),
                          SYNC_FILE_RANGE_WRITE);
}

// Gives the nameless file its final name: directly when it must not replace anything (linking
// never replaces), else under a temporary name renamed over the final path. Both by path: a
// folder moved away meanwhile is no longer where the file was asked to go.
bool ReplacingOutputFile::linkInPlace()
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_file.fd());
    const auto link = [&](const QByteArray& path) {
        return ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, path.constData(), AT_SYMLINK_FOLLOW) == 0
            || (errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0
                && ::linkat(m_file.fd(), "", AT_FDCWD, path.constData(), AT_EMPTY_PATH) == 0);
    };
    if (!m_replaceExisting)
        return link(m_finalPath);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QByteArray path = NativePath::toNative(temporarySiblingPath(NativePath::fromNative(m_finalPath)));
        if (path.isEmpty())
            return false;
        if (!link(path)) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        if (::rename(path.constData(), m_finalPath.constData()) == 0)
            return true;
        const int error = errno;
        ::unlink(path.constData());
        errno = error;
        return false;
    }
    errno = EEXIST;
    return false;
}

bool ReplacingOutputFile::commit()
{
    if (!m_file.isOpen())
        return false;
    bool placed = ::fdatasync(m_file.fd()) == 0;
    if (placed && m_temporaryPath.isEmpty()) {
        // A close that fails after the data reached the device loses nothing.
        placed = linkInPlace();
        if (placed)
            m_file.close();
    } else if (placed) {
        // The temporary name is found where it is, the final one where it was asked for.
        placed = m_file.close()
            && (m_replaceExisting
                    ? ::renameat(m_folder.fd(), temporaryName().constData(), AT_FDCWD, m_finalPath.constData()) == 0
                    : renameWithoutReplacing(m_folder.fd(), temporaryName().constData(), AT_FDCWD,
                                             m_finalPath.constData()));
    }
    if (!placed) {
        const int error = errno;
        discard();
        errno = error;
        return false;
    }
    syncFolderOf(m_finalPath);
    ScratchFiles::release(m_temporaryPath);
    m_temporaryPath.clear();
    return true;
}

void ReplacingOutputFile::discard()
{
    // A second descriptor keeps the file while its name goes; the blocks are given back later.
    const int kept = m_file.isOpen() ? ::fcntl(m_file.fd(), F_DUPFD_CLOEXEC, 0) : -1;
    m_file.reset();
    if (!m_temporaryPath.isEmpty()) {
        ::unlinkat(m_folder.fd(), temporaryName().constData(), 0);
        ScratchFiles::release(m_temporaryPath);
    }
    ScratchFiles::closeSoon(kept);
    m_temporaryPath.clear();
}
