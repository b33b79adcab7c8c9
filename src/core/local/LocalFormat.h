#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The local protected-file format: a header, then independently sealed AES-256-GCM records.
//
//   file   = magic "KORVOLOCAL" (10) | version 0x01 (1) | record... (the last has flag 0x01)
//   record = final flag 0x00/0x01 (1) | sealed length L, big-endian u32 (4) | sealed box (L)
//   box    = nonce (12) | ciphertext (as long as the plain chunk) | tag (16)
//   associated data of record i = header (11) | i as big-endian u64 (8) | final flag (1)
namespace LocalFormat {

inline constexpr std::array<std::uint8_t, 10> magic{'K', 'O', 'R', 'V', 'O', 'L', 'O', 'C', 'A', 'L'};
inline constexpr std::uint8_t version = 0x01;
inline constexpr std::size_t headerSize = 11;
inline constexpr std::size_t chunkSize = 1'048'576;            // plain bytes per record at most
inline constexpr std::size_t nonceSize = 12;
inline constexpr std::size_t tagSize = 16;
inline constexpr std::size_t boxOverhead = nonceSize + tagSize; // L = chunk length + 28
inline constexpr std::size_t maxSealedLength = chunkSize + 64; // largest L accepted
inline constexpr std::size_t recordPrefixSize = 5;             // flag + length
inline constexpr std::size_t authenticatedDataSize = 20;
inline constexpr std::uint8_t flagMore = 0x00;
inline constexpr std::uint8_t flagFinal = 0x01;

// Where the parts of a record sit when the whole record is laid out in one buffer.
inline constexpr std::size_t nonceOffset = recordPrefixSize;
inline constexpr std::size_t textOffset = recordPrefixSize + nonceSize;

using Header = std::array<std::uint8_t, headerSize>;
using AuthenticatedData = std::array<std::uint8_t, authenticatedDataSize>;

inline constexpr Header header = [] {
    Header h{};
    for (std::size_t i = 0; i < magic.size(); ++i)
        h[i] = magic[i];
    h[magic.size()] = version;
    return h;
}();

inline void encodeUInt64(std::uint64_t value, std::uint8_t* out)
{
    for (int i = 7; i >= 0; --i) {
        out[i] = static_cast<std::uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

inline void encodeUInt32(std::uint32_t value, std::uint8_t* out)
{
    for (int i = 3; i >= 0; --i) {
        out[i] = static_cast<std::uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

inline std::uint32_t decodeUInt32(const std::uint8_t* bytes)
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value = value * 256 + bytes[i];
    return value;
}

inline AuthenticatedData authenticatedData(std::uint64_t index, bool isFinal)
{
    AuthenticatedData data{};
    for (std::size_t i = 0; i < headerSize; ++i)
        data[i] = header[i];
    encodeUInt64(index, data.data() + headerSize);
    data[headerSize + 8] = isFinal ? flagFinal : flagMore;
    return data;
}

} // namespace LocalFormat
