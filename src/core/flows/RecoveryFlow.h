#pragma once

#include "core/flows/AccountServices.h"

#include <optional>

// A forgotten password: a reset code is e-mailed, and the code sets a new password. Each step
// returns the line to show.
class RecoveryFlow {
public:
    explicit RecoveryFlow(AccountServices services);

    QCoro::Task<QString> sendCode(QString email) const;
    // Sent from the computer that keeps the account's key (`saved`, for the same e-mail), the
    // reset is signed with it, so the service keeps this key and signs out the others.
    QCoro::Task<QString> reset(QString email, QString code, QString newPassword,
                               std::optional<AccountIdentity> saved = {}) const;

private:
    AccountServices m_services;
};
