#include "zip/OutputFile.h"

#include "zip/ArchiveError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace zip {

namespace {

[[noreturn]] void failWrite(const std::string& path, int errorNumber) {
    throw ArchiveError(ArchiveError::Kind::unwritableFile, path, errorNumber);
}

}  // namespace

OutputFile::OutputFile(int fd, std::string path)
    : m_fd(fd), m_path(std::move(path)), m_buffer(new unsigned char[kCapacity]) {}

OutputFile::~OutputFile() {
    if (m_fd >= 0) ::close(m_fd);
}

unsigned char* OutputFile::reserve(std::size_t length) {
    if (length > freeSpace()) flush();
    return m_buffer.get() + m_used;
}

void OutputFile::append(const unsigned char* data, std::size_t length) {
    if (length == 0) return; // an empty entry may have no data pointer at all
    if (length <= freeSpace()) {
        std::memcpy(m_buffer.get() + m_used, data, length);
        m_used += length;
        return;
    }
    flush();
    if (length >= kCapacity) {
        writeAll(data, length);
        m_flushed += length;
    } else {
        std::memcpy(m_buffer.get(), data, length);
        m_used = length;
    }
}

void OutputFile::flush() {
    if (m_used == 0) return;
    writeAll(m_buffer.get(), m_used);
    m_flushed += m_used;
    m_used = 0;
}

void OutputFile::writeAll(const unsigned char* data, std::size_t length) {
    if (m_fd < 0) failWrite(m_path, EBADF);
    while (length > 0) {
        const ssize_t written = ::write(m_fd, data, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            failWrite(m_path, errno);
        }
        if (written == 0) failWrite(m_path, ENOSPC);
        data += written;
        length -= static_cast<std::size_t>(written);
    }
}

void OutputFile::patch(std::uint64_t offset, const unsigned char* data, std::size_t length) {
    // Whatever part of the range is still in the buffer is patched there, the rest on disk.
    std::size_t onDisk = 0;
    if (offset < m_flushed) {
        onDisk = static_cast<std::size_t>(std::min<std::uint64_t>(length, m_flushed - offset));
        std::size_t done = 0;
        while (done < onDisk) {
            const ssize_t written = ::pwrite(m_fd, data + done, onDisk - done, static_cast<off_t>(offset + done));
            if (written < 0) {
                if (errno == EINTR) continue;
                failWrite(m_path, errno);
            }
            if (written == 0) failWrite(m_path, ENOSPC);
            done += static_cast<std::size_t>(written);
        }
    }
    if (onDisk < length) {
        std::memcpy(m_buffer.get() + (offset + onDisk - m_flushed), data + onDisk, length - onDisk);
    }
}

void OutputFile::truncate(std::uint64_t offset) {
    if (offset >= m_flushed) {
        // A failed flush may have moved the descriptor past m_flushed; put it back.
        m_used = static_cast<std::size_t>(offset - m_flushed);
        if (::lseek(m_fd, static_cast<off_t>(m_flushed), SEEK_SET) < 0) failWrite(m_path, errno);
        return;
    }
    m_used = 0;
    if (::ftruncate(m_fd, static_cast<off_t>(offset)) != 0 || ::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        failWrite(m_path, errno);
    }
    m_flushed = offset;
}

void OutputFile::finish() {
    flush();
    if (::ftruncate(m_fd, static_cast<off_t>(m_flushed)) != 0) failWrite(m_path, errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR) failWrite(m_path, errno);
}

}  // namespace zip
