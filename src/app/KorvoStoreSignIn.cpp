// Sign-in, the device key, account creation with the e-mailed code, and password recovery.
#include "AccountSignIn.h"
#include "KorvoStore.h"
#include "StoreRecords.h"
#include "core/PlatformWording.h"

namespace {
const QString unlockingBusy = QStringLiteral("Unlocking your account...");
const QString creatingAccountBusy = QStringLiteral("Creating account...");
const QString verifyingEmailBusy = QStringLiteral("Verifying your email...");
const QString sendingCodeAgainBusy = QStringLiteral("Sending code again...");
const QString sendingResetCodeBusy = QStringLiteral("Sending reset code...");
const QString resettingPasswordBusy = QStringLiteral("Resetting password...");

const QString enterValidEmailAndPassword = QStringLiteral("Enter a valid email and password.");
const QString wrongEmailOrPassword = QStringLiteral("That email or password is not correct.");
const QString confirmSecurityEmailFirst = QStringLiteral("Confirm the security email we sent you, then sign in again.");
const QString securityEmailSent = QStringLiteral("We sent you a security email. Confirm it, then sign in again.");
const QString restoringPrivateAccess = platformText(QStringLiteral("Restoring private access on this Mac..."));
const QString couldNotRestore = platformText(QStringLiteral("This Mac could not restore private access. Please try again."));
const QString signInOnThisMacFirst = platformText(QStringLiteral("Sign in on this Mac first."));
const QString emailNotVerified = QStringLiteral("Email was not verified.");
const QString couldNotFinishSetup = platformText(QStringLiteral("We could not finish setting up this Mac. Try again."));

const QString signedInTitle = QStringLiteral("Signed in");
const QString accountReadyTitle = QStringLiteral("Account ready");
const QString protectionReadyDetail = platformText(QStringLiteral("Protection is ready on this Mac"));
const QString codeSentPrefix = QStringLiteral("Code sent to ");
const QString codeSentAgain = QStringLiteral("Code sent again.");
const QString resetCodeSent = QStringLiteral("Reset code sent.");
const QString passwordResetDone = QStringLiteral("Password reset.");

BridgeRequest command(const char* name)
{
    BridgeRequest request;
    request.command = QString::fromLatin1(name);
    return request;
}
} // namespace

BridgeRequest KorvoStore::authenticatedBridgeRequest(const QString& commandName) const
{
    if (!m_identity)
        throw StoreError::message(signInOnThisMacFirst);
    BridgeRequest request;
    request.command = commandName;
    request.principalId = m_identity->principalId;
    request.ed25519PrivateKeyHex = m_identity->ed25519PrivateKeyHex;
    return request;
}

QCoro::Task<> KorvoStore::runMessageCommand(BridgeRequest request, QString fallback)
{
    QCoro::Task<SimpleMessageResult> sending = runBridge<SimpleMessageResult>(std::move(request));
    const SimpleMessageResult result = co_await sending;
    setStatusMessage(result.message.value_or(fallback));
}

// ---- sign-in ----

QCoro::QmlTask KorvoStore::login(const QString& email, const QString& password) { return loginTask(email, password); }

QCoro::Task<bool> KorvoStore::loginTask(QString email, QString password)
{
    QCoro::Task<bool> running = perform(unlockingBusy, [this, email, password] { return loginSteps(email, password); });
    co_return co_await running;
}

QCoro::Task<> KorvoStore::loginSteps(QString email, QString password)
{
    const QString normalized = AccountSignIn::normalizedEmail(email);
    if (!AccountSignIn::canSubmit(normalized, password))
        throw StoreError::message(enterValidEmailAndPassword);

    BridgeRequest verify = command("verifyCredentials");
    verify.email = normalized;
    verify.password = password;
    QCoro::Task<VerifyCredentialsResult> verifying = runBridge<VerifyCredentialsResult>(verify);
    const VerifyCredentialsResult credentials = co_await verifying;
    if (!credentials.valid)
        throw StoreError::message(wrongEmailOrPassword);

    const AccountIdentity identity = AccountSignIn::identity(normalized, credentials.principalId, m_identity);
    if (!AccountSignIn::hasValidDeviceKey(identity.ed25519PrivateKeyHex)) {
        QCoro::Task<> restoring = restoreDeviceKey(identity, password);
        co_await restoring;   // always ends the sign-in with a sentence
    }

    setIdentity(identity);
    setAccessMode(AppAccessMode::Account);
    loadActivities(AppAccessMode::Account);

    std::optional<SessionResult> session;
    QString sessionFailure;
    try {
        QCoro::Task<SessionResult> opening = authenticatedRequest<SessionResult>(QStringLiteral("createSession"));
        session = co_await opening;
    } catch (const KorvoError& error) {
        sessionFailure = error.message();
    }
    if (!session) {
        if (m_identity && m_identity->deviceKeyConfirmationPending.value_or(false))
            throw StoreError::message(confirmSecurityEmailFirst);
        // A key the service no longer knows (a password reset made elsewhere signs out the
        // other computers) is restored with the password just given, as a missing one is.
        if (sessionFailure.contains(QLatin1String("ed25519PrivateKeyHex"))) {
            QCoro::Task<> restoring = restoreDeviceKey(identity, password);
            co_await restoring;   // always ends the sign-in with a sentence
        }
        throw StoreError::message(sessionFailure);
    }
    setSession(StoreRecords::session(*session));

    QCoro::Task<> clearing = clearDeviceKeyConfirmation();
    co_await clearing;
    QCoro::Task<> refreshing = refreshSecretsAndEnsureDefault(true);
    co_await refreshing;
    finishSignIn(signedInTitle, identity.email);
}

QCoro::Task<> KorvoStore::restoreDeviceKey(AccountIdentity identity, QString password)
{
    setStatusMessage(restoringPrivateAccess);
    QCoro::Task<GeneratedKey> generating = runBridge<GeneratedKey>(command("generateKey"));
    const GeneratedKey key = co_await generating;

    BridgeRequest rotate = command("rotateKey");
    rotate.email = identity.email;
    rotate.password = password;
    rotate.ed25519PrivateKeyHex = key.privateKeyHex;
    QCoro::Task<RotateKeyResult> rotating = runBridge<RotateKeyResult>(rotate);
    const RotateKeyResult rotated = co_await rotating;
    if (!rotated.success)
        throw StoreError::message(couldNotRestore);

    AccountIdentity updated = identity;
    updated.ed25519PrivateKeyHex = key.privateKeyHex;
    updated.deviceKeyConfirmationPending = true;
    QCoro::Task<> saving = saveIdentity(updated);
    co_await saving;
    setIdentity(updated);
    throw StoreError::message(securityEmailSent);
}

QCoro::Task<> KorvoStore::clearDeviceKeyConfirmation()
{
    if (!m_identity || !m_identity->deviceKeyConfirmationPending.value_or(false))
        co_return;
    AccountIdentity cleared = *m_identity;
    cleared.deviceKeyConfirmationPending = std::nullopt;   // written as absent, not as false
    QCoro::Task<> saving = saveIdentity(cleared);
    co_await saving;
    setIdentity(cleared);
}

void KorvoStore::finishSignIn(const QString& activityTitle, const QString& activityDetail)
{
    setRoute(AppRoute::Main);
    rememberActivity(ActivityItem::make(activityTitle, activityDetail));
    scheduleDataConsumptionRefresh();
}

// ---- account creation ----

QCoro::QmlTask KorvoStore::registerAccount(const QString& email, const QString& password) { return registerAccountTask(email, password); }

QCoro::Task<bool> KorvoStore::registerAccountTask(QString email, QString password)
{
    QCoro::Task<bool> running = perform(creatingAccountBusy, [this, email, password] { return registerSteps(email, password); });
    co_return co_await running;
}

QCoro::Task<> KorvoStore::registerSteps(QString email, QString password)
{
    BridgeRequest request = command("register");
    request.email = email;
    request.password = password;
    QCoro::Task<RegisterResult> registering = runBridge<RegisterResult>(request);
    const RegisterResult result = co_await registering;
    showVerifyOtp(email, password, result.principalId);
    setStatusMessage(result.message.value_or(codeSentPrefix + email + QLatin1Char('.')));
}

QCoro::QmlTask KorvoStore::resendOtp(const QString& email) { return resendOtpTask(email); }

QCoro::Task<bool> KorvoStore::resendOtpTask(QString email)
{
    QCoro::Task<bool> running = perform(sendingCodeAgainBusy, [this, email]() -> QCoro::Task<> {
        BridgeRequest request = command("resendOtp");
        request.email = email;
        QCoro::Task<> sending = runMessageCommand(request, codeSentAgain);
        co_await sending;
    });
    co_return co_await running;
}

QCoro::QmlTask KorvoStore::verifyOtpAndFinish(const QString& email, const QString& password,
                                             const QString& principalId, const QString& otp)
{
    return verifyOtpAndFinishTask(email, password, principalId, otp);
}

QCoro::Task<bool> KorvoStore::verifyOtpAndFinishTask(QString email, QString password, QString principalId, QString otp)
{
    QCoro::Task<bool> running = perform(verifyingEmailBusy, [this, email, password, principalId, otp] {
        return verifyOtpSteps(email, password, principalId, otp);
    });
    co_return co_await running;
}

QCoro::Task<> KorvoStore::verifyOtpSteps(QString email, QString password, QString principalId, QString otp)
{
    BridgeRequest verify = command("verifyEmail");
    verify.email = email;
    verify.otp = otp;
    QCoro::Task<VerifyEmailResult> verifying = runBridge<VerifyEmailResult>(verify);
    const VerifyEmailResult verified = co_await verifying;
    if (!verified.emailVerified)
        throw StoreError::message(emailNotVerified);

    QCoro::Task<GeneratedKey> generating = runBridge<GeneratedKey>(command("generateKey"));
    const GeneratedKey key = co_await generating;

    BridgeRequest registerKey = command("registerKey");
    registerKey.password = password;
    registerKey.principalId = principalId;
    registerKey.ed25519PrivateKeyHex = key.privateKeyHex;
    QCoro::Task<RegisterKeyResult> registering = runBridge<RegisterKeyResult>(registerKey);
    const RegisterKeyResult registered = co_await registering;
    if (registered.nodeRegistrationStatus != QLatin1String("complete")
        && registered.nodeRegistrationStatus != QLatin1String("partial"))
        throw StoreError::message(couldNotFinishSetup);

    const AccountIdentity identity{email, principalId, key.privateKeyHex, std::nullopt, std::nullopt};
    QCoro::Task<> saving = saveIdentity(identity);
    co_await saving;
    setIdentity(identity);
    setAccessMode(AppAccessMode::Account);
    loadActivities(AppAccessMode::Account);

    QCoro::Task<SessionResult> opening = authenticatedRequest<SessionResult>(QStringLiteral("createSession"));
    const SessionResult session = co_await opening;
    setSession(StoreRecords::session(session));
    QCoro::Task<> refreshing = refreshSecretsAndEnsureDefault(true);
    co_await refreshing;
    finishSignIn(accountReadyTitle, protectionReadyDetail);
}

// ---- password recovery ----

QCoro::QmlTask KorvoStore::forgotPassword(const QString& email) { return forgotPasswordTask(email); }

QCoro::Task<bool> KorvoStore::forgotPasswordTask(QString email)
{
    QCoro::Task<bool> running = perform(sendingResetCodeBusy, [this, email]() -> QCoro::Task<> {
        BridgeRequest request = command("forgotPassword");
        request.email = email;
        QCoro::Task<> sending = runMessageCommand(request, resetCodeSent);
        co_await sending;
        showResetPassword(email);
    });
    co_return co_await running;
}

QCoro::QmlTask KorvoStore::resetPassword(const QString& email, const QString& otp, const QString& newPassword)
{
    return resetPasswordTask(email, otp, newPassword);
}

QCoro::Task<bool> KorvoStore::resetPasswordTask(QString email, QString otp, QString newPassword)
{
    QCoro::Task<bool> running = perform(resettingPasswordBusy, [this, email, otp, newPassword]() -> QCoro::Task<> {
        BridgeRequest request = command("resetPassword");
        // Sent from the computer that keeps this account's key, the reset is signed with it, so
        // the service keeps this key and signs out the others.
        if (m_identity && m_identity->email == AccountSignIn::normalizedEmail(email)
            && AccountSignIn::hasValidDeviceKey(m_identity->ed25519PrivateKeyHex)) {
            request.principalId = m_identity->principalId;
            request.ed25519PrivateKeyHex = m_identity->ed25519PrivateKeyHex;
        }
        request.email = email;
        request.otp = otp;
        request.newPassword = newPassword;
        QCoro::Task<> resetting = runMessageCommand(request, passwordResetDone);
        co_await resetting;
        setRoute(AppRoute::Login);
    });
    co_return co_await running;
}
