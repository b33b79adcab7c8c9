#pragma once

#include "core/flows/AccountServices.h"

// Deleting the online account in two steps: the password, checked against the signed-in
// account, asks the service to e-mail a code; the code deletes the account. Each step returns
// the line to show. Removing what this computer keeps of the account is the caller's part.
class DeletionFlow {
public:
    explicit DeletionFlow(AccountServices services);

    QCoro::Task<QString> requestCode(AccountIdentity identity, QString password) const;
    QCoro::Task<QString> confirm(AccountIdentity identity, QString code) const;

private:
    AccountServices m_services;
};
