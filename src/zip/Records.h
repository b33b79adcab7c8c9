#pragma once

// Serialisers for the four ZIP records the writer emits. Each writes into caller-provided
// memory in field order and returns the pointer just past what it wrote.

#include "zip/DosDateTime.h"
#include "zip/ZipFormat.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zip {

// Where a value stops fitting its classic field. The defaults are the format's own; tests
// lower them to reach the ZIP64 paths with small archives.
struct Limits {
    std::uint64_t size = format::kMax32;   // sizes and offsets this large or larger go to ZIP64
    std::uint64_t count = format::kMax16;  // entry counts this large or larger go to ZIP64
};

// What the local header and the central directory header of one entry say.
struct EntryRecord {
    std::string_view name;                  // the bytes as given
    std::uint16_t flags = format::kFlagUtf8Name;  // the UTF-8 bit only when the name is UTF-8
    std::uint16_t method = format::kMethodStored;
    DosDateTime modified;
    std::uint32_t crc32 = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t localHeaderOffset = 0;
    std::uint32_t externalAttributes = 0;
};

// True when either size needs the ZIP64 field in the local header.
bool needsZip64Sizes(const EntryRecord& entry, const Limits& limits);

std::size_t localHeaderSize(const EntryRecord& entry, const Limits& limits);
unsigned char* writeLocalHeader(unsigned char* out, const EntryRecord& entry, const Limits& limits);

std::size_t centralDirectoryHeaderSize(const EntryRecord& entry, const Limits& limits);
unsigned char* writeCentralDirectoryHeader(unsigned char* out, const EntryRecord& entry, const Limits& limits);

// The end of the archive: the ZIP64 end record and its locator when any value overflows, then
// the classic end record. `position` is where these records start in the file.
inline constexpr std::size_t kMaxEndRecordsSize = format::kZip64EndOfCentralDirectorySize
    + format::kZip64EndOfCentralDirectoryLocatorSize + format::kEndOfCentralDirectorySize;
struct CentralDirectorySummary {
    std::uint64_t entryCount = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
};
unsigned char* writeEndRecords(unsigned char* out, const CentralDirectorySummary& directory,
                               std::uint64_t position, const Limits& limits);

}  // namespace zip
