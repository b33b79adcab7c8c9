#pragma once

#include "core/flows/AccountServices.h"

// Creating an account: the e-mail and password are sent and a code is e-mailed; the code
// verifies the address, and this computer's device key is made, registered and saved. The
// session and the first Korvo follow as for a sign-in (SignInFlow::openSession, KorvosFlow).
class RegistrationFlow {
public:
    struct Started {
        QString principalId;
        QString message;   // the service's, else "Code sent to ADDRESS."
    };

    explicit RegistrationFlow(AccountServices services);

    QCoro::Task<Started> start(QString email, QString password) const;
    // Sends the code again; the line to show.
    QCoro::Task<QString> resendCode(QString email) const;
    // The identity of the new account, saved in the keychain. Throws FlowError when the code or
    // the key's registration is refused.
    QCoro::Task<AccountIdentity> finish(QString email, QString password, QString principalId, QString code) const;

private:
    AccountServices m_services;
};
