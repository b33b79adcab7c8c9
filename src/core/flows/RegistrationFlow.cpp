#include "core/flows/RegistrationFlow.h"

#include "core/PlatformWording.h"
#include "core/flows/FlowError.h"

namespace {
const QString codeSentPrefix = QStringLiteral("Code sent to ");
const QString codeSentAgain = QStringLiteral("Code sent again.");
const QString emailNotVerified = QStringLiteral("Email was not verified.");
const QString couldNotFinishSetup = platformText(QStringLiteral("We could not finish setting up this Mac. Try again."));
} // namespace

RegistrationFlow::RegistrationFlow(AccountServices services)
    : m_services(std::move(services))
{
}

QCoro::Task<RegistrationFlow::Started> RegistrationFlow::start(QString email, QString password) const
{
    BridgeRequest request = m_services.request(QStringLiteral("register"));
    request.email = email;
    request.password = password;
    QCoro::Task<RegisterResult> registering = m_services.run<RegisterResult>(request);
    const RegisterResult result = co_await registering;
    co_return Started{result.principalId, result.message.value_or(codeSentPrefix + email + QLatin1Char('.'))};
}

QCoro::Task<QString> RegistrationFlow::resendCode(QString email) const
{
    BridgeRequest request = m_services.request(QStringLiteral("resendOtp"));
    request.email = email;
    QCoro::Task<QString> sending = m_services.message(request, codeSentAgain);
    co_return co_await sending;
}

QCoro::Task<AccountIdentity> RegistrationFlow::finish(QString email, QString password, QString principalId,
                                                      QString code) const
{
    BridgeRequest verify = m_services.request(QStringLiteral("verifyEmail"));
    verify.email = email;
    verify.otp = code;
    QCoro::Task<VerifyEmailResult> verifying = m_services.run<VerifyEmailResult>(verify);
    const VerifyEmailResult verified = co_await verifying;
    if (!verified.emailVerified)
        throw FlowError(emailNotVerified);

    QCoro::Task<GeneratedKey> generating = m_services.run<GeneratedKey>(m_services.request(QStringLiteral("generateKey")));
    const GeneratedKey key = co_await generating;

    BridgeRequest registerKey = m_services.request(QStringLiteral("registerKey"));
    registerKey.password = password;
    registerKey.principalId = principalId;
    registerKey.ed25519PrivateKeyHex = key.privateKeyHex;
    QCoro::Task<RegisterKeyResult> registering = m_services.run<RegisterKeyResult>(registerKey);
    const RegisterKeyResult registered = co_await registering;
    if (registered.nodeRegistrationStatus != QLatin1String("complete")
        && registered.nodeRegistrationStatus != QLatin1String("partial"))
        throw FlowError(couldNotFinishSetup);

    const AccountIdentity identity{email, principalId, key.privateKeyHex, std::nullopt, std::nullopt};
    QCoro::Task<> saving = m_services.keychain->saveIdentity(identity);
    co_await saving;
    co_return identity;
}
