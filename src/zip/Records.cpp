#include "zip/Records.h"

#include "zip/LittleEndian.h"

namespace zip {

using namespace format;

namespace {

bool needsZip64Offset(const EntryRecord& entry, const Limits& limits) {
    return entry.localHeaderOffset >= limits.size;
}

std::uint16_t versionNeeded(const EntryRecord& entry, const Limits& limits) {
    return needsZip64Sizes(entry, limits) ? kVersionNeededZip64 : kVersionNeeded;
}

std::uint16_t centralExtraLength(const EntryRecord& entry, const Limits& limits) {
    const int fields = (needsZip64Sizes(entry, limits) ? 2 : 0) + (needsZip64Offset(entry, limits) ? 1 : 0);
    return fields == 0 ? 0 : static_cast<std::uint16_t>(kZip64ExtraHeaderSize + kZip64ExtraFieldSize * fields);
}

std::uint32_t saturated32(std::uint64_t value, bool overflows) {
    return overflows ? kSentinel32 : static_cast<std::uint32_t>(value);
}

// The run of fields the local header and the central directory header share, from the version
// needed to extract through the name's length.
unsigned char* putSharedHeaderFields(unsigned char* out, const EntryRecord& entry, const Limits& limits) {
    const bool zip64 = needsZip64Sizes(entry, limits);
    out = le::put16(out, versionNeeded(entry, limits));
    out = le::put16(out, entry.flags);
    out = le::put16(out, entry.method);
    out = le::put16(out, entry.modified.time);
    out = le::put16(out, entry.modified.date);
    out = le::put32(out, entry.crc32);
    out = le::put32(out, saturated32(entry.compressedSize, zip64));
    out = le::put32(out, saturated32(entry.uncompressedSize, zip64));
    return le::put16(out, static_cast<std::uint16_t>(entry.name.size()));
}

}  // namespace

bool needsZip64Sizes(const EntryRecord& entry, const Limits& limits) {
    return entry.compressedSize >= limits.size || entry.uncompressedSize >= limits.size;
}

std::size_t localHeaderSize(const EntryRecord& entry, const Limits& limits) {
    return kLocalFileHeaderSize + entry.name.size() + (needsZip64Sizes(entry, limits) ? kLocalZip64ExtraLength : 0);
}

unsigned char* writeLocalHeader(unsigned char* out, const EntryRecord& entry, const Limits& limits) {
    const bool zip64 = needsZip64Sizes(entry, limits);
    out = le::put32(out, kLocalFileHeaderSignature);
    out = putSharedHeaderFields(out, entry, limits);
    out = le::put16(out, zip64 ? kLocalZip64ExtraLength : 0);
    out = le::putBytes(out, entry.name);
    if (zip64) {
        out = le::put16(out, kZip64ExtraHeaderId);
        out = le::put16(out, 2 * kZip64ExtraFieldSize);
        out = le::put64(out, entry.uncompressedSize);
        out = le::put64(out, entry.compressedSize);
    }
    return out;
}

std::size_t centralDirectoryHeaderSize(const EntryRecord& entry, const Limits& limits) {
    return kCentralDirectoryHeaderSize + entry.name.size() + centralExtraLength(entry, limits);
}

unsigned char* writeCentralDirectoryHeader(unsigned char* out, const EntryRecord& entry, const Limits& limits) {
    const bool zip64Sizes = needsZip64Sizes(entry, limits);
    const bool zip64Offset = needsZip64Offset(entry, limits);
    const std::uint16_t extraLength = centralExtraLength(entry, limits);
    out = le::put32(out, kCentralDirectorySignature);
    out = le::put16(out, kVersionMadeBy);
    out = putSharedHeaderFields(out, entry, limits);
    out = le::put16(out, extraLength);
    out = le::put16(out, 0);  // file comment length
    out = le::put16(out, 0);  // disk number start
    out = le::put16(out, 0);  // internal file attributes
    out = le::put32(out, entry.externalAttributes);
    out = le::put32(out, saturated32(entry.localHeaderOffset, zip64Offset));
    out = le::putBytes(out, entry.name);
    if (extraLength != 0) {
        out = le::put16(out, kZip64ExtraHeaderId);
        out = le::put16(out, static_cast<std::uint16_t>(extraLength - kZip64ExtraHeaderSize));
        if (zip64Sizes) {
            out = le::put64(out, entry.uncompressedSize);
            out = le::put64(out, entry.compressedSize);
        }
        if (zip64Offset) out = le::put64(out, entry.localHeaderOffset);
    }
    return out;
}

unsigned char* writeEndRecords(unsigned char* out, const CentralDirectorySummary& directory,
                               std::uint64_t position, const Limits& limits) {
    const bool countOverflows = directory.entryCount >= limits.count;
    const bool sizeOverflows = directory.size >= limits.size;
    const bool offsetOverflows = directory.offset >= limits.size;
    if (countOverflows || sizeOverflows || offsetOverflows) {
        out = le::put32(out, kZip64EndOfCentralDirectorySignature);
        out = le::put64(out, kZip64EndOfCentralDirectoryRecordLength);
        out = le::put16(out, kVersionMadeBy);
        out = le::put16(out, kVersionNeededZip64);
        out = le::put32(out, 0);  // number of this disk
        out = le::put32(out, 0);  // disk where the central directory starts
        out = le::put64(out, directory.entryCount);
        out = le::put64(out, directory.entryCount);
        out = le::put64(out, directory.size);
        out = le::put64(out, directory.offset);

        out = le::put32(out, kZip64EndOfCentralDirectoryLocatorSignature);
        out = le::put32(out, 0);  // disk holding the ZIP64 end record
        out = le::put64(out, position);
        out = le::put32(out, 1);  // total number of disks
    }
    const std::uint16_t count = countOverflows ? kSentinel16 : static_cast<std::uint16_t>(directory.entryCount);
    out = le::put32(out, kEndOfCentralDirectorySignature);
    out = le::put16(out, 0);  // number of this disk
    out = le::put16(out, 0);  // disk where the central directory starts
    out = le::put16(out, count);
    out = le::put16(out, count);
    out = le::put32(out, saturated32(directory.size, sizeOverflows));
    out = le::put32(out, saturated32(directory.offset, offsetOverflows));
    out = le::put16(out, 0);  // comment length
    return out;
}

}  // namespace zip
