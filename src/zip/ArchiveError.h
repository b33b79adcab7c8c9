#pragma once

#include <stdexcept>
#include <string>

namespace zip {

// Every failure of the writer. what() is a finished, user-facing sentence.
class ArchiveError : public std::runtime_error {
public:
    enum class Kind {
        unwritableArchive,         // the archive file cannot be created or is already closed
        invalidEntryPath,          // the entry name does not fit the 16-bit length field
        unsafeEntryPath,           // the entry name is absolute or climbs with ".."
        invalidCompressionMethod,  // a method this writer does not produce
        invalidBufferSize,         // a zero piece size
        cancelledOperation,        // the caller asked the writer to stop
        fileNotFound,              // the source file does not exist
        fileReadPermission,        // the source file may not be read
        unreadableFile,            // reading the source file failed or it ended early
        unwritableFile,            // writing the archive failed (disk full, I/O error)
    };

    // `path` is the file concerned (the archive or a source file); its last component is named
    // in the sentence. `errorNumber` is the errno behind the failure, or 0.
    ArchiveError(Kind kind, const std::string& path = {}, int errorNumber = 0);

    Kind kind() const noexcept { return m_kind; }
    const std::string& path() const noexcept { return m_path; }
    int errorNumber() const noexcept { return m_errorNumber; }

private:
    Kind m_kind;
    std::string m_path;
    int m_errorNumber;
};

}  // namespace zip
