#pragma once

#include "zip/ArchiveError.h"
#include "zip/Records.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zip {

class OutputFile;

enum class CompressionMethod { none, deflate };

struct Entry {
    enum class EntryType { file, directory, symlink };
};

// A ZIP archive being written: created empty at a path, entries appended one at a time, and
// completed by close() (or, failing that, by the destructor, which swallows errors).
//
// The central directory is kept in memory and written once, with the end records, when the
// archive is closed; the bytes are those an archive rewritten after every entry would end with.
// A failed entry is undone completely, so the archive stays usable. One thread at a time.
class Archive {
public:
    static constexpr std::size_t kDefaultBufferSize = std::size_t{1} << 20;

    // Fills `length` bytes at `destination` with the entry's content starting at `position`,
    // or throws.
    using Provider = std::function<void(std::uint64_t position, unsigned char* destination, std::size_t length)>;

    // Creates a new archive file, refusing to replace an existing one (unwritableArchive).
    explicit Archive(const std::string& path, Limits limits = {});
    // Writes into an empty file already open for writing at `fd`, which the archive takes over;
    // `path` only names it in errors, and abandon() closes it without removing anything.
    Archive(int fd, const std::string& path, Limits limits = {});
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Appends the file, folder or symbolic link (not followed) at `filePath` under the name
    // `path`, with its modification time and mode. `bufferSize` caps each read from the file.
    void addEntry(const std::string& path, const std::string& filePath,
                  CompressionMethod compressionMethod = CompressionMethod::none,
                  std::size_t bufferSize = kDefaultBufferSize);

    // The general form: `uncompressedSize` bytes taken from `provider`. Names that are absolute or
    // hold a ".." component are refused (unsafeEntryPath), as are names over 65,535 bytes. A missing permission
    // means 0644 for files and links and 0755 for folders. Only stored entries are written.
    void addEntry(const std::string& path, Entry::EntryType type, std::uint64_t uncompressedSize,
                  std::int64_t modificationTime, std::optional<std::uint16_t> permissions,
                  CompressionMethod compressionMethod, std::size_t bufferSize, const Provider& provider);

    // From now on, a true `*cancelled` stops the entry being written within one piece of its
    // content (cancelledOperation), undoing it like any failed entry. Null: never stops.
    void setCancellation(const std::atomic<bool>* cancelled) { m_cancelled = cancelled; }

    // Writes the central directory and the end records and closes the file.
    void close();

    // Closes the file without completing it and removes it.
    void abandon() noexcept;

    const std::string& path() const { return m_path; }
    std::uint64_t entryCount() const { return m_entryCount; }

private:
    void writeContent(EntryRecord& record, std::size_t bufferSize, const Provider& provider);
    void requireOpen() const;
    void throwIfCancelled() const;
    void start(int fd);

    std::string m_path;
    bool m_ownsPath = true;
    Limits m_limits;
    std::unique_ptr<OutputFile> m_out;
    std::vector<unsigned char> m_centralDirectory;
    std::uint64_t m_entryCount = 0;
    const std::atomic<bool>* m_cancelled = nullptr;
};

}  // namespace zip
