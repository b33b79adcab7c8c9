#include "core/local/GcmCipher.h"

#include "core/local/LocalFormat.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>
#include <cstring>
#include <stdexcept>

struct GcmCipher::Context {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~Context() { EVP_CIPHER_CTX_free(ctx); }
};

namespace {
constexpr int tagLength = 16;
constexpr int nonceLength = 12;
}

GcmCipher::GcmCipher(Direction direction, const std::uint8_t* key)
    : m_context(std::make_unique<Context>()), m_direction(direction)
{
    EVP_CIPHER_CTX* ctx = m_context->ctx;
    const bool ok = ctx
        && (direction == Direction::seal
                ? EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1
                : EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1)
        && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, nonceLength, nullptr) == 1
        && (direction == Direction::seal ? EVP_EncryptInit_ex(ctx, nullptr, nullptr, key, nullptr) == 1
                                         : EVP_DecryptInit_ex(ctx, nullptr, nullptr, key, nullptr) == 1);
    if (!ok)
        throw std::runtime_error("AES-256-GCM is not available");
}

GcmCipher::~GcmCipher() = default;

bool GcmCipher::seal(const std::uint8_t* nonce, const std::uint8_t* aad, std::size_t aadSize,
                     std::uint8_t* text, std::size_t size, std::uint8_t* tagOut)
{
    if (m_direction != Direction::seal || size > INT_MAX || aadSize > INT_MAX)
        return false;
    EVP_CIPHER_CTX* ctx = m_context->ctx;
    int length = 0;
    if (EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, nonce) != 1
        || EVP_EncryptUpdate(ctx, nullptr, &length, aad, static_cast<int>(aadSize)) != 1)
        return false;
    if (size > 0 && EVP_EncryptUpdate(ctx, text, &length, text, static_cast<int>(size)) != 1)
        return false;
    return EVP_EncryptFinal_ex(ctx, text + size, &length) == 1
        && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, tagLength, tagOut) == 1;
}

bool GcmCipher::open(const std::uint8_t* nonce, const std::uint8_t* aad, std::size_t aadSize,
                     std::uint8_t* text, std::size_t size, const std::uint8_t* tag)
{
    if (m_direction != Direction::open || size > INT_MAX || aadSize > INT_MAX)
        return false;
    EVP_CIPHER_CTX* ctx = m_context->ctx;
    std::uint8_t expected[tagLength];
    std::memcpy(expected, tag, tagLength);
    int length = 0;
    if (EVP_DecryptInit_ex(ctx, nullptr, nullptr, nullptr, nonce) != 1
        || EVP_DecryptUpdate(ctx, nullptr, &length, aad, static_cast<int>(aadSize)) != 1)
        return false;
    if (size > 0 && EVP_DecryptUpdate(ctx, text, &length, text, static_cast<int>(size)) != 1)
        return false;
    return EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, tagLength, expected) == 1
        && EVP_DecryptFinal_ex(ctx, text + size, &length) == 1;
}

bool randomBytes(std::uint8_t* out, std::size_t size)
{
    return size <= INT_MAX && RAND_bytes(out, static_cast<int>(size)) == 1;
}

bool sealRecord(GcmCipher& cipher, std::uint8_t* record, std::size_t textLength, std::uint64_t index, bool isFinal)
{
    using namespace LocalFormat;
    std::uint8_t* text = record + textOffset;
    const AuthenticatedData aad = authenticatedData(index, isFinal);
    if (!randomBytes(record + nonceOffset, nonceSize)
        || !cipher.seal(record + nonceOffset, aad.data(), aad.size(), text, textLength, text + textLength))
        return false;
    record[0] = isFinal ? flagFinal : flagMore;
    encodeUInt32(static_cast<std::uint32_t>(textLength + boxOverhead), record + 1);
    return true;
}

bool openBox(GcmCipher& cipher, std::uint8_t* box, std::size_t sealedLength, std::uint64_t index, bool isFinal)
{
    using namespace LocalFormat;
    if (sealedLength < boxOverhead)
        return false;
    const std::size_t plainLength = sealedLength - boxOverhead;
    std::uint8_t* text = box + nonceSize;
    const AuthenticatedData aad = authenticatedData(index, isFinal);
    return cipher.open(box, aad.data(), aad.size(), text, plainLength, text + plainLength);
}
