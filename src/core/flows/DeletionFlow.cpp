#include "core/flows/DeletionFlow.h"

#include "core/flows/AccountRules.h"
#include "core/flows/FlowError.h"

namespace {
const QString enterAccountPassword = QStringLiteral("Enter your account password.");
const QString passwordNotCorrect = QStringLiteral("That password is not correct.");
const QString enterSixDigitCode = QStringLiteral("Enter the six-digit code from your email.");
const QString accountNotDeleted = QStringLiteral("Your account could not be deleted. Try again.");
const QString accountDeleted = QStringLiteral("Your account has been deleted.");
const QString codeSentPrefix = QStringLiteral("Confirmation code sent to ");
} // namespace

DeletionFlow::DeletionFlow(AccountServices services)
    : m_services(std::move(services))
{
}

QCoro::Task<QString> DeletionFlow::requestCode(AccountIdentity identity, QString password) const
{
    if (!AccountRules::hasMinimumLength(password))
        throw FlowError(enterAccountPassword);

    BridgeRequest verify = m_services.request(QStringLiteral("verifyCredentials"));
    verify.email = identity.email;
    verify.password = password;
    QCoro::Task<VerifyCredentialsResult> verifying = m_services.run<VerifyCredentialsResult>(verify);
    const VerifyCredentialsResult credentials = co_await verifying;
    if (!credentials.valid || credentials.principalId != identity.principalId)
        throw FlowError(passwordNotCorrect);

    BridgeRequest request = m_services.request(QStringLiteral("requestAccountDeletion"));
    request.email = identity.email;
    request.password = password;
    request.principalId = identity.principalId;
    QCoro::Task<QString> requesting = m_services.message(request, codeSentPrefix + identity.email + QLatin1Char('.'));
    co_return co_await requesting;
}

QCoro::Task<QString> DeletionFlow::confirm(AccountIdentity identity, QString code) const
{
    const std::optional<QString> digits = AccountRules::sixDigitCode(code);
    if (!digits)
        throw FlowError(enterSixDigitCode);

    BridgeRequest request = m_services.request(QStringLiteral("confirmAccountDeletion"));
    request.email = identity.email;
    request.otp = *digits;
    QCoro::Task<ConfirmAccountDeletionResult> confirming = m_services.run<ConfirmAccountDeletionResult>(request);
    const ConfirmAccountDeletionResult result = co_await confirming;
    if (!result.success)
        throw FlowError(accountNotDeleted);
    co_return result.message.value_or(accountDeleted);
}
