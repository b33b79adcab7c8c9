#include "core/KeychainStore.h"

#include <openssl/rand.h>

namespace {
// The status reported when the system's random source fails (nothing is stored then).
constexpr int randomSourceFailed = -1;
}

KeychainStore::KeychainStore(std::shared_ptr<KeychainBackend> backend)
    : m_backend(std::move(backend))
{
}

KeychainItemQuery KeychainStore::baseQuery(const char* account)
{
    return {QString::fromLatin1(service), QString::fromLatin1(account)};
}

AccountIdentity KeychainStore::load() const
{
    const KeychainReadResult result = m_backend->copyMatching(baseQuery(identityAccount));
    if (result.status == KeychainStatus::itemNotFound)
        throw KeychainStoreError::itemNotFound();
    if (result.status != KeychainStatus::success)
        throw KeychainStoreError::unexpectedStatus(result.status);
    return AccountIdentity::fromJson(result.data);
}

void KeychainStore::save(const AccountIdentity& identity) const
{
    const QByteArray json = identity.toJson();   // throws encodeFailed before the keychain is touched
    // One replacing write: the old identity stays until the new one is in place.
    const int status = m_backend->replace(baseQuery(identityAccount), json, KeychainContent::text);
    if (status != KeychainStatus::success)
        throw KeychainStoreError::unexpectedStatus(status);
}

QByteArray KeychainStore::loadOrCreateLocalProtectionKey() const
{
    const KeychainItemQuery query = baseQuery(localProtectionAccount);
    const KeychainReadResult result = m_backend->copyMatching(query);
    if (result.status == KeychainStatus::success && result.data.size() == localProtectionKeySize)
        return result.data;
    if (result.status != KeychainStatus::itemNotFound)
        // Also a stored key of the wrong size (status 0): it is reported, never repaired or replaced.
        throw KeychainStoreError::unexpectedStatus(result.status);

    QByteArray key(localProtectionKeySize, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(key.data()), localProtectionKeySize) != 1)
        throw KeychainStoreError::unexpectedStatus(randomSourceFailed);
    // add() never overwrites: when another caller created the key first, this reports the duplicate
    // and the first key stays the one every later call returns.
    const int status = m_backend->add(query, key, KeychainContent::binary);
    if (status != KeychainStatus::success)
        throw KeychainStoreError::unexpectedStatus(status);
    return key;
}

bool KeychainStore::deleteIdentity() const
{
    const int status = m_backend->remove(baseQuery(identityAccount));
    return status == KeychainStatus::success || status == KeychainStatus::itemNotFound;
}
