#pragma once

#include "core/flows/AccountServices.h"

#include <optional>
#include <vector>

// The signed-in account's Korvos (its protection keys): the list, a new one, and which one is
// selected. The selection lives in the saved identity.
class KorvosFlow {
public:
    struct Listed {
        std::vector<KorvoSecret> secrets;
        // The Korvo to select instead of `selected`: the first one not syncing (else the first)
        // when `selected` is not listed, or the one just created for an empty list.
        std::optional<qint64> choice;
    };

    explicit KorvosFlow(AccountServices services);

    // The list; with `createIfEmpty`, an empty list gets the account's first Korvo.
    QCoro::Task<Listed> refresh(AccountIdentity identity, std::optional<qint64> selected, bool createIfEmpty) const;
    // A new Korvo's number.
    QCoro::Task<qint64> create(AccountIdentity identity) const;
    // The identity with `secretId` as its selection, saved in the keychain.
    QCoro::Task<AccountIdentity> saveSelection(AccountIdentity identity, qint64 secretId) const;

private:
    QCoro::Task<std::vector<KorvoSecret>> list(AccountIdentity identity) const;

    AccountServices m_services;
};
