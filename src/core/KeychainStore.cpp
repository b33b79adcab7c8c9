#include "core/KeychainStore.h"

#include <openssl/rand.h>

#include <optional>

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

namespace {

// The stored key; nullopt when there is none yet. A stored key of the wrong size is reported
// with status 0 and never repaired or replaced.
std::optional<QByteArray> storedKey(KeychainBackend& backend, const KeychainItemQuery& query, int keySize)
{
    const KeychainReadResult result = backend.copyMatching(query);
    if (result.status == KeychainStatus::success && result.data.size() == keySize)
        return result.data;
    if (result.status != KeychainStatus::itemNotFound)
        throw KeychainStoreError::unexpectedStatus(result.status);
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> KeychainStore::loadLocalProtectionKey() const
{
    return storedKey(*m_backend, baseQuery(localProtectionAccount), localProtectionKeySize);
}

QByteArray KeychainStore::loadOrCreateLocalProtectionKey() const
{
    const KeychainItemQuery query = baseQuery(localProtectionAccount);
    if (auto key = storedKey(*m_backend, query, localProtectionKeySize))
        return *key;

    QByteArray key(localProtectionKeySize, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(key.data()), localProtectionKeySize) != 1)
        throw KeychainStoreError::unexpectedStatus(randomSourceFailed);
    // add() never overwrites. When another caller created the key first (several first uses at
    // once), its key is the one every call returns, this one's included.
    const int status = m_backend->add(query, key, KeychainContent::binary);
    if (status == KeychainStatus::duplicateItem) {
        if (auto winner = storedKey(*m_backend, query, localProtectionKeySize))
            return *winner;
    }
    if (status != KeychainStatus::success)
        throw KeychainStoreError::unexpectedStatus(status);
    return key;
}

bool KeychainStore::deleteIdentity() const
{
    const int status = m_backend->remove(baseQuery(identityAccount));
    return status == KeychainStatus::success || status == KeychainStatus::itemNotFound;
}
