#include "zip/Archive.h"

#include "zip/OutputFile.h"
#include "zip/SourceFile.h"
#include "zip/Utf8.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <fcntl.h>
#include <unistd.h>

namespace zip {

using namespace format;

namespace {

// Smallest piece worth a read of its own when the write buffer is nearly full.
constexpr std::size_t kMinimumPiece = std::size_t{64} << 10;

std::uint32_t typeBits(Entry::EntryType type) {
    switch (type) {
    case Entry::EntryType::file: return kUnixRegularFile;
    case Entry::EntryType::symlink: return kUnixSymbolicLink;
    case Entry::EntryType::directory: return kUnixDirectory;
    }
    return kUnixRegularFile;
}

// An absolute name, or one with a ".." component, would be unpacked outside the target folder.
bool isUnsafeName(std::string_view name) {
    if (name.empty() || name.front() == '/') return true;
    for (std::size_t start = 0; start <= name.size();) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        if (name.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

std::uint32_t crcOf(std::uint32_t crc, const unsigned char* data, std::size_t length) {
    return static_cast<std::uint32_t>(crc32_z(crc, data, length));
}

}  // namespace

Archive::Archive(const std::string& path, Limits limits) : m_path(path), m_limits(limits) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) throw ArchiveError(ArchiveError::Kind::unwritableArchive, path, errno);
    start(fd);
}

Archive::Archive(int fd, const std::string& path, Limits limits) : m_path(path), m_ownsPath(false), m_limits(limits) {
    start(fd);
}

void Archive::start(int fd) {
    m_out = std::make_unique<OutputFile>(fd, m_path);
    // The file starts as an empty archive, as the end record alone. Entries overwrite it.
    unsigned char empty[kMaxEndRecordsSize];
    const std::size_t length = static_cast<std::size_t>(writeEndRecords(empty, {}, 0, m_limits) - empty);
    if (::pwrite(fd, empty, length, 0) != static_cast<ssize_t>(length)) {
        const int error = errno;
        m_out.reset();
        if (m_ownsPath) ::unlink(m_path.c_str());
        throw ArchiveError(ArchiveError::Kind::unwritableArchive, m_path, error);
    }
}

Archive::~Archive() {
    if (!m_out) return;
    try {
        close();
    } catch (...) {
        // A destructor cannot report; callers who care call close() themselves.
    }
}

void Archive::requireOpen() const {
    if (!m_out) throw ArchiveError(ArchiveError::Kind::unwritableArchive, m_path);
}

void Archive::throwIfCancelled() const {
    if (m_cancelled != nullptr && m_cancelled->load(std::memory_order_relaxed))
        throw ArchiveError(ArchiveError::Kind::cancelledOperation, m_path);
}

void Archive::addEntry(const std::string& path, const std::string& filePath, CompressionMethod compressionMethod,
                       std::size_t bufferSize) {
    requireOpen();
    throwIfCancelled();
    SourceFile source(filePath);
    const Entry::EntryType type = source.type();
    addEntry(path, type, source.size(), source.modificationTime(), source.permissions(),
             type == Entry::EntryType::file ? compressionMethod : CompressionMethod::none, bufferSize,
             [&source](std::uint64_t position, unsigned char* destination, std::size_t length) {
                 source.read(position, destination, length);
             });
}

void Archive::addEntry(const std::string& path, Entry::EntryType type, std::uint64_t uncompressedSize,
                       std::int64_t modificationTime, std::optional<std::uint16_t> permissions,
                       CompressionMethod compressionMethod, std::size_t bufferSize, const Provider& provider) {
    requireOpen();
    if (compressionMethod != CompressionMethod::none && type == Entry::EntryType::file) {
        throw ArchiveError(ArchiveError::Kind::invalidCompressionMethod, m_path);
    }
    if (bufferSize == 0) throw ArchiveError(ArchiveError::Kind::invalidBufferSize, m_path);
    std::string name = path;
    if (type == Entry::EntryType::directory) {
        if (name.empty() || name.back() != '/') name.push_back('/');
        uncompressedSize = 0;
    }
    if (name.size() > kMaxNameLength) throw ArchiveError(ArchiveError::Kind::invalidEntryPath, m_path);
    if (isUnsafeName(name)) throw ArchiveError(ArchiveError::Kind::unsafeEntryPath, m_path);

    const std::uint16_t defaultPermissions =
        type == Entry::EntryType::directory ? kDefaultDirectoryPermissions : kDefaultFilePermissions;
    EntryRecord record;
    record.name = name;
    // A name that is not UTF-8 (a file named in a legacy encoding) keeps its bytes; claiming
    // UTF-8 for it would make strict readers refuse the whole archive.
    record.flags = isValidUtf8(name) ? kFlagUtf8Name : 0;
    record.method = kMethodStored;
    record.modified = dosDateTime(modificationTime);
    record.compressedSize = uncompressedSize;
    record.uncompressedSize = uncompressedSize;
    record.localHeaderOffset = m_out->position();
    record.externalAttributes = (typeBits(type) | permissions.value_or(defaultPermissions)) << kExternalAttributesShift;

    try {
        writeContent(record, bufferSize, provider);
        const std::size_t headerSize = centralDirectoryHeaderSize(record, m_limits);
        const std::size_t oldSize = m_centralDirectory.size();
        m_centralDirectory.resize(oldSize + headerSize);
        writeCentralDirectoryHeader(m_centralDirectory.data() + oldSize, record, m_limits);
    } catch (...) {
        m_out->truncate(record.localHeaderOffset);
        throw;
    }
    ++m_entryCount;
}

void Archive::writeContent(EntryRecord& record, std::size_t bufferSize, const Provider& provider) {
    const std::size_t headerSize = localHeaderSize(record, m_limits);
    const std::uint64_t size = record.uncompressedSize;

    if (headerSize + size <= OutputFile::kCapacity) {
        // Small entry: header and content assembled in place, the CRC known before the header.
        unsigned char* header = m_out->reserve(headerSize + static_cast<std::size_t>(size));
        unsigned char* data = header + headerSize;
        for (std::size_t done = 0; done < size;) {
            throwIfCancelled();
            const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(bufferSize, size - done));
            provider(done, data + done, piece);
            done += piece;
        }
        record.crc32 = crcOf(0, data, static_cast<std::size_t>(size));
        writeLocalHeader(header, record, m_limits);
        m_out->commit(headerSize + static_cast<std::size_t>(size));
        return;
    }

    // Large entry: a provisional header (same length, CRC still 0), the content streamed in big
    // pieces, then the header rewritten in place with the CRC.
    writeLocalHeader(m_out->reserve(headerSize), record, m_limits);
    m_out->commit(headerSize);
    std::uint32_t crc = 0;
    for (std::uint64_t done = 0; done < size;) {
        throwIfCancelled();
        if (m_out->freeSpace() < kMinimumPiece) m_out->flush();
        const std::size_t piece = static_cast<std::size_t>(
            std::min<std::uint64_t>({bufferSize, size - done, m_out->freeSpace()}));
        unsigned char* data = m_out->reserve(piece);
        provider(done, data, piece);
        crc = crcOf(crc, data, piece);
        m_out->commit(piece);
        done += piece;
    }
    record.crc32 = crc;
    unsigned char header[kLocalFileHeaderSize + kMaxNameLength + kLocalZip64ExtraLength];
    writeLocalHeader(header, record, m_limits);
    m_out->patch(record.localHeaderOffset, header, headerSize);
}

void Archive::abandon() noexcept {
    if (!m_out) return;
    m_out.reset();
    if (m_ownsPath) ::unlink(m_path.c_str());
    m_centralDirectory = {};
}

void Archive::close() {
    requireOpen();
    std::unique_ptr<OutputFile> out = std::move(m_out);
    CentralDirectorySummary directory;
    directory.entryCount = m_entryCount;
    directory.size = m_centralDirectory.size();
    directory.offset = out->position();
    out->append(m_centralDirectory.data(), m_centralDirectory.size());
    unsigned char end[kMaxEndRecordsSize];
    const unsigned char* endOfRecords = writeEndRecords(end, directory, out->position(), m_limits);
    out->append(end, static_cast<std::size_t>(endOfRecords - end));
    out->finish();
    m_centralDirectory = {};
}

}  // namespace zip
