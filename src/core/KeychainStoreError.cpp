#include "core/KeychainStore.h"

namespace {
const char* const unexpectedStatusPrefix = "Keychain returned status ";
const char* const encodeFailedText = "Could not encode account identity.";
const char* const decodeFailedText = "Could not decode account identity.";
const char* const itemNotFoundText = "No saved account identity was found.";
}

KeychainStoreError::KeychainStoreError(Kind kind, int status, QString message)
    : KorvoError(std::move(message)), m_kind(kind), m_status(status)
{
}

KeychainStoreError KeychainStoreError::unexpectedStatus(int status)
{
    return KeychainStoreError(Kind::unexpectedStatus, status,
                              QLatin1String(unexpectedStatusPrefix) + QString::number(status) + QLatin1Char('.'));
}

KeychainStoreError KeychainStoreError::encodeFailed()
{
    return KeychainStoreError(Kind::encodeFailed, 0, QString::fromLatin1(encodeFailedText));
}

KeychainStoreError KeychainStoreError::decodeFailed()
{
    return KeychainStoreError(Kind::decodeFailed, 0, QString::fromLatin1(decodeFailedText));
}

KeychainStoreError KeychainStoreError::itemNotFound()
{
    return KeychainStoreError(Kind::itemNotFound, 0, QString::fromLatin1(itemNotFoundText));
}
