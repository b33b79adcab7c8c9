#pragma once

#include "core/flows/AccountServices.h"

// A forgotten password: a reset code is e-mailed, and the code sets a new password. Each step
// returns the line to show.
class RecoveryFlow {
public:
    explicit RecoveryFlow(AccountServices services);

    QCoro::Task<QString> sendCode(QString email) const;
    QCoro::Task<QString> reset(QString email, QString code, QString newPassword) const;

private:
    AccountServices m_services;
};
