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

bool renameDurably(const QByteArray& from, const QByteArray& to)
{
    if (::rename(from.constData(), to.constData()) != 0)
        return false;
    // The rename itself lives in the folder: flush it too. A folder that cannot be opened or
    // flushed (some file systems refuse) leaves the rename as durable as the system makes it.
    const qsizetype slash = to.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : to.left(slash);
    const FileHandle directory(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.isOpen())
        ::fsync(directory.fd());
    return true;
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

ReplacingOutputFile::ReplacingOutputFile(const QString& finalPath)
    : m_finalPath(NativePath::toNative(finalPath))
{
    if (m_finalPath.isEmpty())
        return;
    // The folder is held open so that the temporary file is removed even when someone moves
    // the folder away while it is being written.
    m_folder = openParentFolder(m_finalPath);
    if (!m_folder.isOpen())
        return;
    for (int attempt = 0; attempt < 8 && !m_file.isOpen(); ++attempt) {
        m_temporaryPath = NativePath::toNative(temporarySiblingPath(finalPath));
        if (m_temporaryPath.isEmpty())
            return;
        // 0666 so the process's umask gives the platform's default permissions.
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
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    return FileHandle(::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

QByteArray ReplacingOutputFile::temporaryName() const
{
    return m_temporaryPath.mid(m_temporaryPath.lastIndexOf('/') + 1);
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

bool ReplacingOutputFile::commit()
{
    if (!m_file.isOpen())
        return false;
    if (::fdatasync(m_file.fd()) != 0 || !m_file.close() || !renameDurably(m_temporaryPath, m_finalPath)) {
        const int error = errno;
        discard();
        errno = error;
        return false;
    }
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
