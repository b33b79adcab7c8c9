#include "core/flows/SignInFlow.h"

#include "core/PlatformWording.h"
#include "core/flows/AccountRules.h"

namespace {
const QString enterValidEmailAndPassword = QStringLiteral("Enter a valid email and password.");
const QString wrongEmailOrPassword = QStringLiteral("That email or password is not correct.");
const QString confirmSecurityEmailFirst = QStringLiteral("Confirm the security email we sent you, then sign in again.");
const QString securityEmailSent = QStringLiteral("We sent you a security email. Confirm it, then sign in again.");
const QString restoringPrivateAccess = platformText(QStringLiteral("Restoring private access on this Mac..."));
const QString couldNotRestore = platformText(QStringLiteral("This Mac could not restore private access. Please try again."));
} // namespace

DeviceKeyReplaced::DeviceKeyReplaced(AccountIdentity identity)
    : FlowError(securityEmailSent)
    , m_identity(std::move(identity))
{
}

SignInFlow::SignInFlow(AccountServices services, Status status)
    : m_services(std::move(services))
    , m_status(std::move(status))
{
}

QCoro::Task<AccountIdentity> SignInFlow::verify(QString email, QString password,
                                                std::optional<AccountIdentity> saved) const
{
    const QString normalized = AccountRules::normalizedEmail(email);
    if (!AccountRules::canSubmit(normalized, password))
        throw FlowError(enterValidEmailAndPassword);

    BridgeRequest verifying = m_services.request(QStringLiteral("verifyCredentials"));
    verifying.email = normalized;
    verifying.password = password;
    QCoro::Task<VerifyCredentialsResult> asking = m_services.run<VerifyCredentialsResult>(verifying);
    const VerifyCredentialsResult credentials = co_await asking;
    if (!credentials.valid)
        throw FlowError(wrongEmailOrPassword);

    const AccountIdentity identity = AccountRules::identity(normalized, credentials.principalId, saved);
    if (!AccountRules::hasValidDeviceKey(identity.ed25519PrivateKeyHex)) {
        QCoro::Task<> replacing = replaceDeviceKey(identity, password);
        co_await replacing;   // always ends with DeviceKeyReplaced
    }
    co_return identity;
}

QCoro::Task<> SignInFlow::replaceDeviceKey(AccountIdentity identity, QString password) const
{
    if (m_status)
        m_status(restoringPrivateAccess);
    QCoro::Task<GeneratedKey> generating = m_services.run<GeneratedKey>(m_services.request(QStringLiteral("generateKey")));
    const GeneratedKey key = co_await generating;

    BridgeRequest rotate = m_services.request(QStringLiteral("rotateKey"));
    rotate.email = identity.email;
    rotate.password = password;
    rotate.ed25519PrivateKeyHex = key.privateKeyHex;
    QCoro::Task<RotateKeyResult> rotating = m_services.run<RotateKeyResult>(rotate);
    const RotateKeyResult rotated = co_await rotating;
    if (!rotated.success)
        throw FlowError(couldNotRestore);

    AccountIdentity updated = identity;
    updated.ed25519PrivateKeyHex = key.privateKeyHex;
    updated.deviceKeyConfirmationPending = true;
    QCoro::Task<> saving = m_services.keychain->saveIdentity(updated);
    co_await saving;
    throw DeviceKeyReplaced(updated);
}

QCoro::Task<SignedIn> SignInFlow::openSession(AccountIdentity identity, std::optional<QString> password) const
{
    std::optional<SessionResult> session;
    QString failure;
    try {
        QCoro::Task<SessionResult> opening =
            m_services.run<SessionResult>(m_services.request(QStringLiteral("createSession"), identity));
        session = co_await opening;
    } catch (const KorvoError& error) {
        failure = error.message();
    }
    const bool pending = identity.deviceKeyConfirmationPending.value_or(false);
    if (!session && pending)
        throw FlowError(confirmSecurityEmailFirst);
    if (!session && password && failure.contains(QLatin1String("ed25519PrivateKeyHex"))) {
        QCoro::Task<> replacing = replaceDeviceKey(identity, *password);
        co_await replacing;   // always ends with DeviceKeyReplaced
    }
    if (!session)
        throw FlowError(failure);
    if (pending) {
        identity.deviceKeyConfirmationPending = std::nullopt;   // written as absent, not as false
        QCoro::Task<> saving = m_services.keychain->saveIdentity(identity);
        co_await saving;
    }
    co_return SignedIn{identity, *session};
}
