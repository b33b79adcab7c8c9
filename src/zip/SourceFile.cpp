#include "zip/SourceFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zip {

namespace {

constexpr std::uint64_t kLargeFile = std::uint64_t{8} << 20;

[[noreturn]] void failOpen(const std::string& path, int errorNumber) {
    using Kind = ArchiveError::Kind;
    switch (errorNumber) {
    case ENOENT:
    case ENOTDIR: throw ArchiveError(Kind::fileNotFound, path, errorNumber);
    case EACCES:
    case EPERM: throw ArchiveError(Kind::fileReadPermission, path, errorNumber);
    default: throw ArchiveError(Kind::unreadableFile, path, errorNumber);
    }
}

}  // namespace

SourceFile::SourceFile(const std::string& path) : m_path(path) {
    // One open() settles most cases: O_NOFOLLOW refuses a final symbolic link (ELOOP), and
    // O_NONBLOCK keeps a FIFO from stalling the archive.
    m_fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        const int error = errno;
        if (error == ELOOP) {
            openLink();
            return;
        }
        failOpen(path, error);
    }
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
        const int error = errno;
        ::close(m_fd);
        m_fd = -1;
        failOpen(path, error);
    }
    m_mode = static_cast<std::uint16_t>(info.st_mode);
    m_modificationTime = info.st_mtim.tv_sec;
    if (S_ISDIR(info.st_mode)) {
        m_type = Entry::EntryType::directory;
        m_size = 0;
    } else {
        m_type = Entry::EntryType::file;
        m_size = static_cast<std::uint64_t>(info.st_size);
        if (m_size > kLargeFile) ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);  // a hint: wider read-ahead
    }
}

void SourceFile::openLink() {
    struct stat info {};
    if (::lstat(m_path.c_str(), &info) != 0) failOpen(m_path, errno);
    if (!S_ISLNK(info.st_mode)) failOpen(m_path, ELOOP);  // a loop further up the path
    // The reported size of a link may be 0 on some file systems: grow until the target fits.
    std::size_t capacity = info.st_size > 0 ? static_cast<std::size_t>(info.st_size) + 1 : 256;
    for (;;) {
        m_linkTarget.resize(capacity);
        const ssize_t length = ::readlink(m_path.c_str(), m_linkTarget.data(), capacity);
        if (length < 0) failOpen(m_path, errno);
        if (static_cast<std::size_t>(length) < capacity) {
            m_linkTarget.resize(static_cast<std::size_t>(length));
            break;
        }
        capacity *= 2;
    }
    m_type = Entry::EntryType::symlink;
    m_size = m_linkTarget.size();
    m_mode = static_cast<std::uint16_t>(info.st_mode);
    m_modificationTime = info.st_mtim.tv_sec;
}

SourceFile::~SourceFile() {
    if (m_fd >= 0) ::close(m_fd);
}

void SourceFile::read(std::uint64_t position, unsigned char* destination, std::size_t length) const {
    if (m_type == Entry::EntryType::symlink) {
        if (position + length > m_linkTarget.size()) throw ArchiveError(ArchiveError::Kind::unreadableFile, m_path);
        std::memcpy(destination, m_linkTarget.data() + position, length);
        return;
    }
    while (length > 0) {
        const ssize_t got = ::pread(m_fd, destination, length, static_cast<off_t>(position));
        if (got < 0) {
            if (errno == EINTR) continue;
            throw ArchiveError(ArchiveError::Kind::unreadableFile, m_path, errno);
        }
        if (got == 0) throw ArchiveError(ArchiveError::Kind::unreadableFile, m_path);  // the file shrank
        destination += got;
        position += static_cast<std::uint64_t>(got);
        length -= static_cast<std::size_t>(got);
    }
}

}  // namespace zip
