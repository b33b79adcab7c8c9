// Deleting the online account: the password step that asks for a code, and the code step.
#include "AccountSignIn.h"
#include "KorvoStore.h"
#include "core/PlatformWording.h"

namespace {
const QString sendingConfirmationBusy = QStringLiteral("Sending confirmation code...");
const QString deletingAccountBusy = QStringLiteral("Deleting your account...");
const QString signInBeforeDeleting = QStringLiteral("Sign in before deleting your account.");
const QString enterAccountPassword = QStringLiteral("Enter your account password.");
const QString passwordNotCorrect = QStringLiteral("That password is not correct.");
const QString enterSixDigitCode = QStringLiteral("Enter the six-digit code from your email.");
const QString accountNotDeleted = QStringLiteral("Your account could not be deleted. Try again.");
const QString accountDeleted = QStringLiteral("Your account has been deleted.");
const QString cleanupIncomplete = platformText(
    QStringLiteral("Your account was deleted, but this Mac could not remove all saved sign-in data."));
const QString codeSentPrefix = QStringLiteral("Confirmation code sent to ");
} // namespace

QCoro::QmlTask KorvoStore::requestAccountDeletion(const QString& password) { return requestAccountDeletionTask(password); }
QCoro::QmlTask KorvoStore::confirmAccountDeletion(const QString& otp) { return confirmAccountDeletionTask(otp); }

QCoro::Task<bool> KorvoStore::requestAccountDeletionTask(QString password)
{
    QCoro::Task<bool> running = perform(sendingConfirmationBusy, [this, password] { return requestAccountDeletionSteps(password); });
    co_return co_await running;
}

QCoro::Task<bool> KorvoStore::confirmAccountDeletionTask(QString otp)
{
    QCoro::Task<bool> running = perform(deletingAccountBusy, [this, otp] { return confirmAccountDeletionSteps(otp); });
    co_return co_await running;
}

QCoro::Task<> KorvoStore::requestAccountDeletionSteps(QString password)
{
    if (!m_identity)
        throw StoreError::message(signInBeforeDeleting);
    if (AccountSignIn::characterCount(password) < 8)
        throw StoreError::message(enterAccountPassword);
    const AccountIdentity identity = *m_identity;

    BridgeRequest verify;
    verify.command = QStringLiteral("verifyCredentials");
    verify.email = identity.email;
    verify.password = password;
    QCoro::Task<VerifyCredentialsResult> verifying = runBridge<VerifyCredentialsResult>(verify);
    const VerifyCredentialsResult credentials = co_await verifying;
    if (!credentials.valid || credentials.principalId != identity.principalId)
        throw StoreError::message(passwordNotCorrect);

    BridgeRequest request;
    request.command = QStringLiteral("requestAccountDeletion");
    request.email = identity.email;
    request.password = password;
    request.principalId = identity.principalId;
    QCoro::Task<> requesting = runMessageCommand(request, codeSentPrefix + identity.email + QLatin1Char('.'));
    co_await requesting;
}

QCoro::Task<> KorvoStore::confirmAccountDeletionSteps(QString otp)
{
    if (!m_identity)
        throw StoreError::message(signInBeforeDeleting);
    const std::optional<QString> code = AccountSignIn::sixDigitCode(otp);
    if (!code)
        throw StoreError::message(enterSixDigitCode);

    BridgeRequest request;
    request.command = QStringLiteral("confirmAccountDeletion");
    request.email = m_identity->email;
    request.otp = *code;
    QCoro::Task<ConfirmAccountDeletionResult> confirming = runBridge<ConfirmAccountDeletionResult>(request);
    const ConfirmAccountDeletionResult result = co_await confirming;
    if (!result.success)
        throw StoreError::message(accountNotDeleted);

    QCoro::Task<bool> removing = removeLocalAccountData();
    const bool removedEverything = co_await removing;
    resetSignedInState();
    setIdentity(std::nullopt);
    setRoute(AppRoute::Login);
    setStatusMessage(result.message.value_or(accountDeleted));
    if (!removedEverything)
        setErrorMessage(cleanupIncomplete);
}
