#pragma once

#include "core/KorvoError.h"
#include "core/keychain/KeychainBackend.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

// The signed-in account as kept in the keychain (compact JSON; optional keys only when set).
struct AccountIdentity {
    QString email;
    QString principalId;
    QString ed25519PrivateKeyHex;
    std::optional<qint64> selectedSecretId;
    std::optional<bool> deviceKeyConfirmationPending;

    bool operator==(const AccountIdentity&) const = default;

    QByteArray toJson() const;
    // Throws KeychainStoreError(decodeFailed) when the bytes are not a valid identity.
    static AccountIdentity fromJson(const QByteArray& json);
};

class KeychainStoreError : public KorvoError {
public:
    enum class Kind { unexpectedStatus, encodeFailed, decodeFailed, itemNotFound };

    static KeychainStoreError unexpectedStatus(int status);
    static KeychainStoreError encodeFailed();
    static KeychainStoreError decodeFailed();
    static KeychainStoreError itemNotFound();

    Kind kind() const { return m_kind; }
    // The keychain's status code for unexpectedStatus; 0 for the other cases.
    int status() const { return m_status; }

private:
    KeychainStoreError(Kind kind, int status, QString message);
    Kind m_kind;
    int m_status;
};

// Keeps the account identity and the local protection key between launches. Holds no state
// beyond its names; every call goes straight to the backend and may run on any thread.
class KeychainStore {
public:
    static constexpr const char* service = "com.korvo.security.macos";
    static constexpr const char* identityAccount = "web2.identity";
    static constexpr const char* localProtectionAccount = "local.protection.key";
    static constexpr int localProtectionKeySize = 32;

    explicit KeychainStore(std::shared_ptr<KeychainBackend> backend);

    // Throws itemNotFound when no identity is stored, decodeFailed for unreadable data.
    AccountIdentity load() const;
    // Replaces the stored identity in one step.
    void save(const AccountIdentity& identity) const;
    // The 32-byte local key, created on first use and never replaced afterwards.
    QByteArray loadOrCreateLocalProtectionKey() const;
    // The same key for opening files, which never creates one: nothing when there is none.
    std::optional<QByteArray> loadLocalProtectionKey() const;
    // True when the identity was removed or was not there.
    bool deleteIdentity() const;

private:
    static KeychainItemQuery baseQuery(const char* account);
    std::shared_ptr<KeychainBackend> m_backend;
};
