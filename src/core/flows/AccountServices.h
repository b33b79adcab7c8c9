#pragma once

#include "core/KeychainQueue.h"
#include "core/bridge/BridgeRunner.h"

#include <qcoro/qcorotask.h>

#include <memory>

class KorvoPublicKeyCache;

// What the account flows work with: the bridge, the keychain's queue and the recipients' key
// cache. Cheap to copy; every copy shares the same three.
struct AccountServices {
    std::shared_ptr<BridgeRunner> bridge;
    std::shared_ptr<KeychainQueue> keychain;
    std::shared_ptr<KorvoPublicKeyCache> publicKeys;

    // The one way to make a request: the command with the service's address ...
    BridgeRequest request(const QString& command) const { return bridge->request(command); }
    // ... and, for a signed-in account, its principal and device key.
    BridgeRequest request(const QString& command, const AccountIdentity& identity) const;

    // Runs a command and reads its result record; `job`, when given, ends this run's child alone.
    template <typename T>
    QCoro::Task<T> run(BridgeRequest request, BridgeRunner::Progress progress = {},
                       std::shared_ptr<BridgeChildren> job = {}) const
    {
        // Everything is taken before the first suspension: a copy of these services may go
        // away while the child runs.
        QCoro::Task<T> running = bridge->run<T>(std::move(request), std::move(progress), std::move(job));
        co_return co_await running;
    }
    // Runs a command answered by a message: the service's message, or `fallback` without one.
    QCoro::Task<QString> message(BridgeRequest request, QString fallback) const;
};
