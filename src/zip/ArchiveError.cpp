#include "zip/ArchiveError.h"

namespace zip {

namespace {

constexpr const char* kUnwritableArchive = "The archive could not be created or written.";
constexpr const char* kInvalidEntryPath = "A name in the archive is longer than 65,535 bytes.";
constexpr const char* kUnsafeEntryPath = "A name in the archive may not start with “/” or contain “..”.";
constexpr const char* kInvalidCompressionMethod = "The archive cannot use this compression method.";
constexpr const char* kInvalidBufferSize = "The buffer size for the archive must be greater than zero.";
constexpr const char* kCancelledOperation = "Writing the archive was cancelled.";
constexpr const char* kFileNotFoundFormat = "The file “%s” does not exist.";
constexpr const char* kFileReadPermissionFormat = "You don't have permission to read the file “%s”.";
constexpr const char* kUnreadableFileFormat = "The file “%s” could not be read.";
constexpr const char* kUnwritableFile = "The archive could not be written; the disk may be full.";

std::string lastComponent(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const auto slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string withName(const char* format, const std::string& path) {
    std::string sentence = format;
    sentence.replace(sentence.find("%s"), 2, lastComponent(path));
    return sentence;
}

std::string sentence(ArchiveError::Kind kind, const std::string& path) {
    switch (kind) {
    case ArchiveError::Kind::unwritableArchive: return kUnwritableArchive;
    case ArchiveError::Kind::invalidEntryPath: return kInvalidEntryPath;
    case ArchiveError::Kind::unsafeEntryPath: return kUnsafeEntryPath;
    case ArchiveError::Kind::invalidCompressionMethod: return kInvalidCompressionMethod;
    case ArchiveError::Kind::invalidBufferSize: return kInvalidBufferSize;
    case ArchiveError::Kind::cancelledOperation: return kCancelledOperation;
    case ArchiveError::Kind::fileNotFound: return withName(kFileNotFoundFormat, path);
    case ArchiveError::Kind::fileReadPermission: return withName(kFileReadPermissionFormat, path);
    case ArchiveError::Kind::unreadableFile: return withName(kUnreadableFileFormat, path);
    case ArchiveError::Kind::unwritableFile: return kUnwritableFile;
    }
    return kUnwritableArchive;
}

}  // namespace

ArchiveError::ArchiveError(Kind kind, const std::string& path, int errorNumber)
    : std::runtime_error(sentence(kind, path)), m_kind(kind), m_path(path), m_errorNumber(errorNumber) {}

}  // namespace zip
