// Korvo selection, the recipient number and the account operations.
#include "KorvoStore.h"
#include "LaunchEnvironment.h"
#include "core/PlatformWording.h"

namespace {
const QString accountUnavailable = QStringLiteral("Online accounts are not available in this version of Korvo.");
const QString korvoLabelPrefix = QStringLiteral("Korvo #");
const QString thisMacLabel = platformText(QStringLiteral("This Mac"));
const QString chooseAKorvoLabel = QStringLiteral("Choose a Korvo");
const QString noKorvoSelectedLabel = QStringLiteral("No Korvo selected");
const QString creatingAccountBusy = QStringLiteral("Creating account...");
const QString verifyingEmailBusy = QStringLiteral("Verifying your email...");
const QString sendingCodeAgainBusy = QStringLiteral("Sending code again...");
const QString unlockingBusy = QStringLiteral("Unlocking your account...");
const QString sendingResetCodeBusy = QStringLiteral("Sending reset code...");
const QString resettingPasswordBusy = QStringLiteral("Resetting password...");
const QString sendingConfirmationBusy = QStringLiteral("Sending confirmation code...");
const QString deletingAccountBusy = QStringLiteral("Deleting your account...");
const QString loadingKorvosBusy = QStringLiteral("Loading Korvos...");
const QString creatingKorvoBusy = QStringLiteral("Creating Korvo...");

// A base-10 number with one optional sign and ASCII digits only, that fits in 64 bits.
std::optional<qint64> parseKorvoNumber(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    qsizetype start = (trimmed.front() == QLatin1Char('+') || trimmed.front() == QLatin1Char('-')) ? 1 : 0;
    if (start == trimmed.size())
        return std::nullopt;
    for (qsizetype i = start; i < trimmed.size(); ++i) {
        if (trimmed[i] < QLatin1Char('0') || trimmed[i] > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = trimmed.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}
} // namespace

std::optional<qint64> KorvoStore::recipientSecretId() const
{
    const auto value = parseKorvoNumber(m_recipientSecretIdText);
    if (!value || *value <= 0)
        return std::nullopt;
    return value;
}

QString KorvoStore::recipientLookupRequest() const
{
    const QString target = m_encryptionTarget == EncryptionTarget::Recipient ? QStringLiteral("recipient")
                                                                              : QStringLiteral("own");
    return target + QLatin1Char('|') + m_recipientSecretIdText;
}

bool KorvoStore::activeSecretIsValid() const
{
    if (m_accessMode == AppAccessMode::Local)
        return true;
    if (m_mode == WorkMode::Encrypt && m_encryptionTarget == EncryptionTarget::Recipient) {
        const auto recipient = recipientSecretId();
        return recipient && m_recipientKorvoState == RecipientKorvoState::Ready
               && m_recipientKorvoNumber == *recipient;
    }
    return m_selectedSecretId.has_value();
}

QString KorvoStore::activeSecretLabel() const
{
    if (m_accessMode == AppAccessMode::Local)
        return thisMacLabel;
    if (m_mode == WorkMode::Encrypt && m_encryptionTarget == EncryptionTarget::Recipient) {
        const auto recipient = recipientSecretId();
        return recipient ? korvoLabelPrefix + QString::number(*recipient) : chooseAKorvoLabel;
    }
    return m_selectedSecretId ? korvoLabelPrefix + QString::number(*m_selectedSecretId) : noKorvoSelectedLabel;
}

void KorvoStore::setSelectedSecret(qint64 secretId)
{
    setSelectedSecretId(secretId);
    if (environmentHas(LaunchEnvironment::startRoute) || !m_identity)
        return;
    AccountIdentity updated = *m_identity;
    updated.selectedSecretId = secretId;
    try {
        m_keychain.save(updated);
        setIdentity(updated);
    } catch (const KorvoError& error) {
        setErrorMessage(error.message());
    }
}

QCoro::QmlTask KorvoStore::prepareRecipientKorvo()
{
    return prepareRecipientKorvoTask();
}

QCoro::Task<> KorvoStore::prepareRecipientKorvoTask()
{
    const auto recipient = recipientSecretId();
    if (m_encryptionTarget != EncryptionTarget::Recipient || !recipient) {
        setRecipientKorvoState(RecipientKorvoState::Idle);
        co_return;
    }
    // Without the online service no number can be confirmed.
    setRecipientKorvoState(RecipientKorvoState::Unavailable, *recipient);
}

QCoro::Task<> KorvoStore::runBridgeCheck()
{
    const std::shared_ptr<BridgeRunner> bridge = m_deps.bridge;
    try {
        QCoro::Task<BridgeCheckResult> running = bridge->check();
        const BridgeCheckResult check = co_await running;
        setBridgeCheck({{QStringLiteral("sdkVersion"), check.sdkVersion},
                        {QStringLiteral("blackboxUrl"), check.blackboxUrl},
                        {QStringLiteral("node"), check.node}});
    } catch (const std::exception&) {
        setBridgeCheck({});
    }
}

void KorvoStore::scheduleDataConsumptionRefresh()
{
}

QCoro::Task<bool> KorvoStore::unavailableAccountOperation(QString busyMessage)
{
    QCoro::Task<bool> running = perform(busyMessage, []() -> QCoro::Task<> {
        throw StoreError::message(accountUnavailable);
        co_return;
    });
    co_return co_await running;
}

QCoro::Task<bool> KorvoStore::loginTask(QString, QString) { return unavailableAccountOperation(unlockingBusy); }
QCoro::Task<bool> KorvoStore::requestAccountDeletionTask(QString) { return unavailableAccountOperation(sendingConfirmationBusy); }
QCoro::Task<bool> KorvoStore::confirmAccountDeletionTask(QString) { return unavailableAccountOperation(deletingAccountBusy); }

QCoro::QmlTask KorvoStore::login(const QString& email, const QString& password) { return loginTask(email, password); }
QCoro::QmlTask KorvoStore::registerAccount(const QString&, const QString&) { return unavailableAccountOperation(creatingAccountBusy); }
QCoro::QmlTask KorvoStore::verifyOtpAndFinish(const QString&, const QString&, const QString&, const QString&) { return unavailableAccountOperation(verifyingEmailBusy); }
QCoro::QmlTask KorvoStore::resendOtp(const QString&) { return unavailableAccountOperation(sendingCodeAgainBusy); }
QCoro::QmlTask KorvoStore::forgotPassword(const QString&) { return unavailableAccountOperation(sendingResetCodeBusy); }
QCoro::QmlTask KorvoStore::resetPassword(const QString&, const QString&, const QString&) { return unavailableAccountOperation(resettingPasswordBusy); }
QCoro::QmlTask KorvoStore::requestAccountDeletion(const QString& password) { return requestAccountDeletionTask(password); }
QCoro::QmlTask KorvoStore::confirmAccountDeletion(const QString& otp) { return confirmAccountDeletionTask(otp); }
QCoro::QmlTask KorvoStore::refreshSecrets() { return unavailableAccountOperation(loadingKorvosBusy); }
QCoro::QmlTask KorvoStore::createSecret() { return unavailableAccountOperation(creatingKorvoBusy); }

QCoro::QmlTask KorvoStore::refreshDataConsumption()
{
    return []() -> QCoro::Task<> { co_return; }();
}
