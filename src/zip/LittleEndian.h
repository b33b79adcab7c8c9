#pragma once

// Small explicit little-endian writers: each stores a value at a byte pointer and returns the
// pointer just past it, so records are built field by field in table order.

#include <cstdint>
#include <cstring>
#include <string_view>

namespace zip::le {

inline unsigned char* put16(unsigned char* out, std::uint16_t value) {
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
    return out + 2;
}

inline unsigned char* put32(unsigned char* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
    return out + 4;
}

inline unsigned char* put64(unsigned char* out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
    return out + 8;
}

inline unsigned char* putBytes(unsigned char* out, std::string_view bytes) {
    if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
    return out + bytes.size();
}

inline std::uint16_t get16(const unsigned char* in) {
    return static_cast<std::uint16_t>(in[0] | (in[1] << 8));
}

inline std::uint32_t get32(const unsigned char* in) {
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8)
        | (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

inline std::uint64_t get64(const unsigned char* in) {
    return static_cast<std::uint64_t>(get32(in)) | (static_cast<std::uint64_t>(get32(in + 4)) << 32);
}

}  // namespace zip::le
