#pragma once

#include "core/KeychainStore.h"
#include "core/threads/SerialQueue.h"

#include <qcoro/qcorotask.h>

#include <memory>

// The keychain as the window and korvo-cli's account commands use it: every call runs on the
// queue's own thread (a keyring may take seconds to answer), one at a time and in the order
// asked, so a later save never lands before an earlier one. Shared by everything that touches
// the keychain in one process.
class KeychainQueue {
public:
    explicit KeychainQueue(std::shared_ptr<KeychainBackend> backend);

    // The saved identity; throws KeychainStoreError (itemNotFound when there is none).
    QCoro::Task<AccountIdentity> loadIdentity();
    QCoro::Task<> saveIdentity(AccountIdentity identity);
    // True when the identity is gone (or was not there); false when the keychain refused.
    QCoro::Task<bool> deleteIdentity();
    // The local protection key: for sealing, made on first use; for opening, never made (the
    // local engine's noKey when there is none). Throws KeychainStoreError.
    QCoro::Task<QByteArray> localProtectionKey(bool sealing);
    // The keychain's status for the local key's item, reading nothing else and creating nothing.
    QCoro::Task<int> localKeyStatus();
    // Ends when every call asked for so far has ended.
    QCoro::Task<> idle() { return m_queue.idle(); }

private:
    std::shared_ptr<KeychainBackend> m_backend;
    KeychainStore m_store;
    SerialQueue m_queue;
};
