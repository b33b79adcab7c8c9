#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// AES-256-GCM on one reusable context: the key is set once, each record only changes the nonce.
// Work happens in place. Returns false on any failure of the cipher (including a wrong tag).
class GcmCipher {
public:
    enum class Direction { seal, open };

    // key must point to 32 bytes. Throws std::runtime_error when the context cannot be set up.
    GcmCipher(Direction direction, const std::uint8_t* key);
    ~GcmCipher();
    GcmCipher(const GcmCipher&) = delete;
    GcmCipher& operator=(const GcmCipher&) = delete;

    static constexpr std::size_t keySize = 32;

    bool seal(const std::uint8_t* nonce, const std::uint8_t* aad, std::size_t aadSize,
              std::uint8_t* text, std::size_t size, std::uint8_t* tagOut);
    bool open(const std::uint8_t* nonce, const std::uint8_t* aad, std::size_t aadSize,
              std::uint8_t* text, std::size_t size, const std::uint8_t* tag);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
    Direction m_direction;
};

// Fills out with bytes from the cryptographic random source; false when it fails.
bool randomBytes(std::uint8_t* out, std::size_t size);

// One record of the local format, laid out as in the file (LocalFormat.h): the plain text
// waits at record + textOffset and is sealed in place; prefix, nonce and tag are filled in.
// False when the cipher or the random source fails.
bool sealRecord(GcmCipher& cipher, std::uint8_t* record, std::size_t textLength, std::uint64_t index, bool isFinal);

// Opens a sealed box (nonce, ciphertext, tag) of record `index` in place; the plain text is then
// at box + nonceSize. False when the box does not authenticate.
bool openBox(GcmCipher& cipher, std::uint8_t* box, std::size_t sealedLength, std::uint64_t index, bool isFinal);
