// Sign-in, account creation with the e-mailed code, and password recovery: the flows in
// core/flows run them; the store shows their steps and results.
#include "KorvoStore.h"
#include "StoreRecords.h"
#include "core/PlatformWording.h"
#include "core/flows/RecoveryFlow.h"
#include "core/flows/RegistrationFlow.h"
#include "core/flows/SignInFlow.h"

namespace {
const QString unlockingBusy = QStringLiteral("Unlocking your account...");
const QString creatingAccountBusy = QStringLiteral("Creating account...");
const QString verifyingEmailBusy = QStringLiteral("Verifying your email...");
const QString sendingCodeAgainBusy = QStringLiteral("Sending code again...");
const QString sendingResetCodeBusy = QStringLiteral("Sending reset code...");
const QString resettingPasswordBusy = QStringLiteral("Resetting password...");
const QString signInOnThisMacFirst = platformText(QStringLiteral("Sign in on this Mac first."));

const QString signedInTitle = QStringLiteral("Signed in");
const QString accountReadyTitle = QStringLiteral("Account ready");
const QString protectionReadyDetail = platformText(QStringLiteral("Protection is ready on this Mac"));
} // namespace

const AccountIdentity& KorvoStore::signedInIdentity() const
{
    if (!m_identity)
        throw StoreError::message(signInOnThisMacFirst);
    return *m_identity;
}

QCoro::Task<> KorvoStore::enterAccount(AccountIdentity identity, QString activityTitle, QString activityDetail,
                                       std::optional<QString> password)
{
    setIdentity(identity);
    setAccessMode(AppAccessMode::Account);
    loadActivities(AppAccessMode::Account);

    const SignInFlow flow(services(), [this](const QString& line) { setStatusMessage(line); });
    QCoro::Task<SignedIn> opening = flow.openSession(identity, password);
    std::optional<SignedIn> answer;
    try {
        answer = co_await opening;
    } catch (const DeviceKeyReplaced& replaced) {
        setIdentity(replaced.identity());   // the new key waits for the security e-mail
        throw;
    }
    const SignedIn& signedIn = *answer;
    setSession(StoreRecords::session(signedIn.session));
    setIdentity(signedIn.identity);
    QCoro::Task<> refreshing = refreshKorvos(true);
    co_await refreshing;

    setRoute(AppRoute::Main);
    rememberActivity(ActivityItem::make(activityTitle, activityDetail));
    scheduleDataConsumptionRefresh();
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
    const SignInFlow flow(services(), [this](const QString& line) { setStatusMessage(line); });
    AccountIdentity identity;
    try {
        QCoro::Task<AccountIdentity> verifying = flow.verify(email, password, m_identity);
        identity = co_await verifying;
    } catch (const DeviceKeyReplaced& replaced) {
        setIdentity(replaced.identity());   // the new key waits for the security e-mail
        throw;
    }
    QCoro::Task<> entering = enterAccount(identity, signedInTitle, identity.email, password);
    co_await entering;
}

// ---- account creation ----

QCoro::QmlTask KorvoStore::registerAccount(const QString& email, const QString& password) { return registerAccountTask(email, password); }

QCoro::Task<bool> KorvoStore::registerAccountTask(QString email, QString password)
{
    QCoro::Task<bool> running = perform(creatingAccountBusy, [this, email, password]() -> QCoro::Task<> {
        const RegistrationFlow flow(services());
        QCoro::Task<RegistrationFlow::Started> starting = flow.start(email, password);
        const RegistrationFlow::Started started = co_await starting;
        showVerifyOtp(email, password, started.principalId);
        setStatusMessage(started.message);
    });
    co_return co_await running;
}

QCoro::QmlTask KorvoStore::resendOtp(const QString& email) { return resendOtpTask(email); }

QCoro::Task<bool> KorvoStore::resendOtpTask(QString email)
{
    QCoro::Task<bool> running = perform(sendingCodeAgainBusy, [this, email]() -> QCoro::Task<> {
        const RegistrationFlow flow(services());
        QCoro::Task<QString> sending = flow.resendCode(email);
        const QString line = co_await sending;
        setStatusMessage(line);
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
    const RegistrationFlow flow(services());
    QCoro::Task<AccountIdentity> finishing = flow.finish(email, password, principalId, otp);
    const AccountIdentity identity = co_await finishing;
    QCoro::Task<> entering = enterAccount(identity, accountReadyTitle, protectionReadyDetail);
    co_await entering;
}

// ---- password recovery ----

QCoro::QmlTask KorvoStore::forgotPassword(const QString& email) { return forgotPasswordTask(email); }

QCoro::Task<bool> KorvoStore::forgotPasswordTask(QString email)
{
    QCoro::Task<bool> running = perform(sendingResetCodeBusy, [this, email]() -> QCoro::Task<> {
        const RecoveryFlow flow(services());
        QCoro::Task<QString> sending = flow.sendCode(email);
        const QString line = co_await sending;
        setStatusMessage(line);
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
        const RecoveryFlow flow(services());
        QCoro::Task<QString> resetting = flow.reset(email, otp, newPassword, m_identity);
        const QString line = co_await resetting;
        setStatusMessage(line);
        setRoute(AppRoute::Login);
    });
    co_return co_await running;
}
