#pragma once

// The ZIP record layouts this writer produces, as one table of constants. Every multi-byte
// integer is little-endian (see LittleEndian.h). Offsets are from the start of each record.

#include <cstdint>

namespace zip::format {

// ---- Signatures -----------------------------------------------------------------------------
inline constexpr std::uint32_t kLocalFileHeaderSignature = 0x04034B50;
inline constexpr std::uint32_t kCentralDirectorySignature = 0x02014B50;
inline constexpr std::uint32_t kEndOfCentralDirectorySignature = 0x06054B50;
inline constexpr std::uint32_t kZip64EndOfCentralDirectorySignature = 0x06064B50;
inline constexpr std::uint32_t kZip64EndOfCentralDirectoryLocatorSignature = 0x07064B50;

// ---- Versions and flags ---------------------------------------------------------------------
inline constexpr std::uint16_t kVersionMadeBy = 0x0315;      // host 3 (UNIX), version 2.1
inline constexpr std::uint16_t kVersionNeeded = 20;
inline constexpr std::uint16_t kVersionNeededZip64 = 45;
inline constexpr std::uint16_t kFlagUtf8Name = 0x0800;       // bit 11; bit 3 is never set
inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodDeflated = 8;

// ---- Fixed record sizes (bytes, before variable parts) --------------------------------------
inline constexpr std::uint32_t kLocalFileHeaderSize = 30;           // + name + extra
inline constexpr std::uint32_t kCentralDirectoryHeaderSize = 46;    // + name + extra + comment
inline constexpr std::uint32_t kEndOfCentralDirectorySize = 22;
inline constexpr std::uint32_t kZip64EndOfCentralDirectorySize = 56;
inline constexpr std::uint64_t kZip64EndOfCentralDirectoryRecordLength = 44;  // size field value
inline constexpr std::uint32_t kZip64EndOfCentralDirectoryLocatorSize = 20;

// ---- ZIP64 extended information extra field -------------------------------------------------
inline constexpr std::uint16_t kZip64ExtraHeaderId = 0x0001;
inline constexpr std::uint16_t kZip64ExtraHeaderSize = 4;           // header ID + data size
inline constexpr std::uint16_t kZip64ExtraFieldSize = 8;            // each 64-bit field
inline constexpr std::uint16_t kLocalZip64ExtraLength = 20;         // header + both sizes

// ---- Limits of the classic fields and their "see ZIP64" sentinels ---------------------------
inline constexpr std::uint64_t kMax32 = 0xFFFFFFFF;                 // a value this large or larger overflows
inline constexpr std::uint64_t kMax16 = 0xFFFF;
inline constexpr std::uint32_t kSentinel32 = 0xFFFFFFFF;
inline constexpr std::uint16_t kSentinel16 = 0xFFFF;
inline constexpr std::uint64_t kMaxNameLength = 0xFFFF;

// ---- UNIX file types in the high half of the external attributes ----------------------------
inline constexpr std::uint32_t kUnixRegularFile = 0100000;
inline constexpr std::uint32_t kUnixSymbolicLink = 0120000;
inline constexpr std::uint32_t kUnixDirectory = 0040000;
inline constexpr std::uint16_t kDefaultFilePermissions = 0644;
inline constexpr std::uint16_t kDefaultDirectoryPermissions = 0755;
inline constexpr unsigned kExternalAttributesShift = 16;

// ---- DOS date and time ----------------------------------------------------------------------
inline constexpr int kDosEpochYear = 1980;
inline constexpr int kDosLastYear = 2099;

}  // namespace zip::format
