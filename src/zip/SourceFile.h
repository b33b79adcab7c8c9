#pragma once

#include "zip/Archive.h"

#include <cstdint>
#include <string>

namespace zip {

// One file on disk about to become an entry: its kind, size, time and mode as the file system
// reports them without following a final symbolic link, and its content. A link's content is
// its target path. Failures throw ArchiveError naming the file.
class SourceFile {
public:
    explicit SourceFile(const std::string& path);
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    Entry::EntryType type() const { return m_type; }
    std::uint64_t size() const { return m_size; }
    std::int64_t modificationTime() const { return m_modificationTime; }
    // Permission bits only: the entry's type bits come from its entry type, so a FIFO's or a
    // device's own type never leaks into the stored attributes.
    std::uint16_t permissions() const { return m_mode & 07777; }

    // Exactly `length` bytes from `position`; a file that ends early is unreadable.
    void read(std::uint64_t position, unsigned char* destination, std::size_t length) const;

private:
    void openLink();

    std::string m_path;
    int m_fd = -1;
    std::string m_linkTarget;
    Entry::EntryType m_type = Entry::EntryType::file;
    std::uint64_t m_size = 0;
    std::int64_t m_modificationTime = 0;
    std::uint16_t m_mode = 0;
};

}  // namespace zip
