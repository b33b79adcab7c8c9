#pragma once

#include "core/flows/AccountServices.h"
#include "core/flows/FlowError.h"

#include <functional>
#include <optional>

// A signed-in account: its identity as saved, and the session the service opened for it.
struct SignedIn {
    AccountIdentity identity;
    SessionResult session;
};

// This computer had no usable device key for the account: a new one was registered with the
// service and saved as pending, and the person must confirm the security e-mail before signing
// in again. Carries the identity as saved.
class DeviceKeyReplaced : public FlowError {
public:
    explicit DeviceKeyReplaced(AccountIdentity identity);
    const AccountIdentity& identity() const { return m_identity; }

private:
    AccountIdentity m_identity;
};

// Signing in with e-mail and password, in two steps so that the caller can show the account
// between them: verify() checks the form, the credentials and this computer's device key;
// openSession() opens the session and clears a confirmed key's pending mark.
class SignInFlow {
public:
    // A line for the person while a step runs ("Restoring private access...").
    using Status = std::function<void(const QString&)>;

    explicit SignInFlow(AccountServices services, Status status = {});

    // The identity to sign in with: `saved` when it belongs to the same e-mail and principal,
    // else a fresh one. Throws FlowError for a form that cannot be sent or wrong credentials,
    // DeviceKeyReplaced when the key had to be replaced, or the bridge's error.
    QCoro::Task<AccountIdentity> verify(QString email, QString password, std::optional<AccountIdentity> saved) const;
    // The session for `identity`; a pending device key that the service accepts is saved as
    // confirmed. A refused session of a pending key asks for the security e-mail first. A key
    // the service no longer knows (a password reset made elsewhere signs out the other
    // computers) is replaced with `password` when given, as a missing one is (DeviceKeyReplaced).
    QCoro::Task<SignedIn> openSession(AccountIdentity identity, std::optional<QString> password = {}) const;

private:
    QCoro::Task<> replaceDeviceKey(AccountIdentity identity, QString password) const;

    AccountServices m_services;
    Status m_status;
};
