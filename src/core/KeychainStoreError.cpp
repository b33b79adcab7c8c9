#include "core/KeychainStore.h"

namespace {
const char* const unexpectedStatusPrefix = "Keychain returned status ";
// Off macOS the statuses a person can act on read as what is wrong and what to do; the code
// itself stays in the error (status()).
const char* const noKeyringText =
    "No keyring service is running in this session: start your desktop's keyring (Secret Service), then try again.";
const char* const keyringLockedText =
    "Your keyring is locked or refused access to Korvo: unlock it or allow access, then try again.";
const char* const keyringDismissedText =
    "Your keyring stayed locked because its unlock prompt was dismissed: try again and unlock it.";

QString statusSentence(int status)
{
#ifndef Q_OS_MACOS
    switch (status) {
    case KeychainStatus::notAvailable: return QString::fromLatin1(noKeyringText);
    case KeychainStatus::authFailed: return QString::fromLatin1(keyringLockedText);
    case KeychainStatus::userCanceled: return QString::fromLatin1(keyringDismissedText);
    default: break;
    }
#endif
    return QLatin1String(unexpectedStatusPrefix) + QString::number(status) + QLatin1Char('.');
}
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
    return KeychainStoreError(Kind::unexpectedStatus, status, statusSentence(status));
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
