#pragma once

#include "core/flows/AccountServices.h"

#include <optional>

// Another person's Korvo number: what counts as one, and its public key, from the recipients'
// key cache or else from the service.
class RecipientLookup {
public:
    explicit RecipientLookup(AccountServices services);

    // A base-10 number with one optional sign and ASCII digits only, above 0 and within 64 bits
    // (white space around it ignored); nothing otherwise.
    static std::optional<qint64> korvoNumber(const QString& text);

    // The key of Korvo `number`. Throws the bridge's error, FlowError when the answer is about
    // another number (and nothing is cached), or the cache's error for a blank key.
    QCoro::Task<QString> publicKey(AccountIdentity identity, qint64 number) const;

private:
    AccountServices m_services;
};
