#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zip {

// The archive's file descriptor behind one large write buffer. Records and small files are
// assembled in place inside the buffer; big pieces go to the kernel in one write(2) each.
// Failures throw ArchiveError (unwritableFile).
class OutputFile {
public:
    static constexpr std::size_t kCapacity = std::size_t{1} << 20;

    // Takes ownership of `fd`, positioned at offset 0.
    OutputFile(int fd, std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Logical end of the archive: bytes already written plus bytes waiting in the buffer.
    std::uint64_t position() const { return m_flushed + m_used; }
    std::size_t freeSpace() const { return kCapacity - m_used; }

    // Room for `length` (at most kCapacity) contiguous bytes, flushing first when needed.
    // The bytes count once commit() is called.
    unsigned char* reserve(std::size_t length);
    void commit(std::size_t length) { m_used += length; }

    void append(const unsigned char* data, std::size_t length);
    void flush();

    // Overwrites bytes already emitted at `offset`, whether still buffered or on disk.
    void patch(std::uint64_t offset, const unsigned char* data, std::size_t length);

    // Forgets everything from `offset` on (used to undo a failed entry).
    void truncate(std::uint64_t offset);

    // Flushes, cuts the file at position() and closes it.
    void finish();

private:
    void writeAll(const unsigned char* data, std::size_t length);

    int m_fd;
    std::string m_path;
    std::unique_ptr<unsigned char[]> m_buffer;
    std::size_t m_used = 0;
    std::uint64_t m_flushed = 0;  // file offset of m_buffer[0]
};

}  // namespace zip
