// The user's Korvos and their selection, the other person's Korvo number, and usage figures.
#include "KorvoStore.h"
#include "LaunchEnvironment.h"
#include "StoreRecords.h"
#include "core/PlatformWording.h"
#include "core/bridge/KorvoPublicKeyCache.h"

#include <QPointer>
#include <QTimer>
#include <QCoro/QCoroTimer>

#include <algorithm>
#include <chrono>

namespace {
const QString korvoLabelPrefix = QStringLiteral("Korvo #");
const QString thisMacLabel = platformText(QStringLiteral("This Mac"));
const QString chooseAKorvoLabel = QStringLiteral("Choose a Korvo");
const QString noKorvoSelectedLabel = QStringLiteral("No Korvo selected");
const QString loadingKorvosBusy = QStringLiteral("Loading Korvos...");
const QString creatingKorvoBusy = QStringLiteral("Creating Korvo...");
const QString korvoCreatedTitle = QStringLiteral("Korvo created");
const QString korvoNotVerified = QStringLiteral("That Korvo could not be verified.");
const QString usageUnavailable = QStringLiteral("Usage is temporarily unavailable.");
// Typing pauses this long before a number is looked up.
constexpr std::chrono::milliseconds recipientDebounce{280};

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

bool isSyncing(const KorvoSecret& secret)
{
    return secret.isSyncing.value_or(0) != 0;
}

// The recipient's key, fetched for the cache: the answer must be about the number asked for.
QCoro::Task<QString> fetchPublicKey(std::shared_ptr<BridgeRunner> bridge, BridgeRequest request)
{
    QCoro::Task<KorvoPublicKeyResult> fetching = bridge->run<KorvoPublicKeyResult>(request);
    const KorvoPublicKeyResult result = co_await fetching;
    if (result.secretId != request.secretId)
        throw StoreError::message(korvoNotVerified);
    co_return result.publicKey;
}
} // namespace

// ---- labels and validity of the workbench's key ----

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

// ---- list, create, select ----

QCoro::QmlTask KorvoStore::refreshSecrets() { return refreshSecretsTask(); }

QCoro::Task<bool> KorvoStore::refreshSecretsTask()
{
    QCoro::Task<bool> running = perform(loadingKorvosBusy, [this] { return refreshSecretsAndEnsureDefault(false); });
    co_return co_await running;
}

QCoro::Task<> KorvoStore::refreshSecretsAndEnsureDefault(bool createIfEmpty)
{
    QCoro::Task<SecretListResult> listing = authenticatedRequest<SecretListResult>(QStringLiteral("listSecrets"));
    const SecretListResult list = co_await listing;
    setSecrets(StoreRecords::secrets(list.secrets));

    if (list.secrets.empty() && createIfEmpty) {
        QCoro::Task<CreateSecretResult> creating = authenticatedRequest<CreateSecretResult>(QStringLiteral("createSecret"));
        const CreateSecretResult created = co_await creating;
        setSelectedSecretId(created.secretId);
        QCoro::Task<> saving = saveSelectedSecret(created.secretId);
        co_await saving;
        QCoro::Task<SecretListResult> relisting = authenticatedRequest<SecretListResult>(QStringLiteral("listSecrets"));
        const SecretListResult fresh = co_await relisting;
        setSecrets(StoreRecords::secrets(fresh.secrets));
        co_return;
    }

    const auto listed = [this](const KorvoSecret& secret) { return secret.secretId == m_selectedSecretId; };
    if ((m_selectedSecretId && std::any_of(list.secrets.begin(), list.secrets.end(), listed)) || list.secrets.empty())
        co_return;
    const auto settled = std::find_if(list.secrets.begin(), list.secrets.end(), [](const KorvoSecret& s) { return !isSyncing(s); });
    const qint64 chosen = settled != list.secrets.end() ? settled->secretId : list.secrets.front().secretId;
    setSelectedSecretId(chosen);
    QCoro::Task<> saving = saveSelectedSecret(chosen);
    co_await saving;
}

QCoro::QmlTask KorvoStore::createSecret() { return createSecretTask(); }

QCoro::Task<bool> KorvoStore::createSecretTask()
{
    QCoro::Task<bool> running = perform(creatingKorvoBusy, [this] { return createSecretSteps(); });
    co_return co_await running;
}

QCoro::Task<> KorvoStore::createSecretSteps()
{
    QCoro::Task<CreateSecretResult> creating = authenticatedRequest<CreateSecretResult>(QStringLiteral("createSecret"));
    const CreateSecretResult created = co_await creating;
    setSelectedSecretId(created.secretId);
    QCoro::Task<> saving = saveSelectedSecret(created.secretId);
    co_await saving;
    QCoro::Task<> refreshing = refreshSecretsAndEnsureDefault(false);
    co_await refreshing;
    rememberActivity(ActivityItem::make(korvoCreatedTitle, korvoLabelPrefix + QString::number(created.secretId)));
}

QCoro::Task<> KorvoStore::saveSelectedSecret(qint64 secretId)
{
    // Start states never touch the keychain.
    if (environmentHas(LaunchEnvironment::startRoute) || !m_identity)
        co_return;
    AccountIdentity updated = *m_identity;
    updated.selectedSecretId = secretId;
    QPointer<KorvoStore> self(this);
    QCoro::Task<> saving = saveIdentity(updated);
    co_await saving;
    // Only the selection is taken over: the identity may have changed meanwhile.
    if (self && m_identity && m_identity->principalId == updated.principalId) {
        AccountIdentity current = *m_identity;
        current.selectedSecretId = secretId;
        setIdentity(current);
    }
}

void KorvoStore::setSelectedSecret(qint64 secretId)
{
    setSelectedSecretId(secretId);
    QPointer<KorvoStore> self(this);
    [](QPointer<KorvoStore> store, QCoro::Task<> saving) -> QCoro::Task<> {
        try {
            co_await saving;
        } catch (const KorvoError& error) {
            if (store)
                store->setErrorMessage(error.message());
        }
    }(self, saveSelectedSecret(secretId));
}

// ---- the other person's Korvo number ----

QCoro::QmlTask KorvoStore::prepareRecipientKorvo() { return prepareRecipientKorvoTask(); }

QCoro::Task<> KorvoStore::prepareRecipientKorvoTask()
{
    const quint64 generation = ++m_recipientLookupGeneration;
    const auto recipient = recipientSecretId();
    if (m_encryptionTarget != EncryptionTarget::Recipient || !recipient) {
        setRecipientKorvoState(RecipientKorvoState::Idle);
        co_return;
    }
    const qint64 number = *recipient;
    setRecipientKorvoState(RecipientKorvoState::Checking, number);

    QPointer<KorvoStore> self(this);
    const auto current = [&] { return self && generation == m_recipientLookupGeneration; };
    QTimer debounce;
    debounce.setTimerType(Qt::PreciseTimer);
    debounce.setSingleShot(true);
    debounce.start(recipientDebounce);
    co_await debounce;
    if (!current())
        co_return;

    bool found = false;
    try {
        QCoro::Task<QString> fetching = recipientPublicKey(number);
        co_await fetching;
        found = true;
    } catch (const std::exception&) {
    }
    // A newer entry or look-up owns the state now; so does a changed target or number.
    if (!current() || m_encryptionTarget != EncryptionTarget::Recipient || recipientSecretId() != number)
        co_return;
    setRecipientKorvoState(found ? RecipientKorvoState::Ready : RecipientKorvoState::Unavailable, number);
}

QCoro::Task<QString> KorvoStore::recipientPublicKey(qint64 secretId)
{
    BridgeRequest request = authenticatedBridgeRequest(QStringLiteral("getSecretPublicKey"));
    const std::shared_ptr<BridgeRunner> bridge = m_deps.bridge;
    const std::shared_ptr<KorvoPublicKeyCache> cache = m_deps.publicKeyCache;
    request.blackboxUrl = bridge->blackboxUrl();
    request.secretId = secretId;
    QCoro::Task<QString> looking = cache->publicKey(bridge->blackboxUrl(), secretId,
                                                    [bridge, request] { return fetchPublicKey(bridge, request); });
    co_return co_await looking;
}

// ---- usage figures ----

QCoro::QmlTask KorvoStore::refreshDataConsumption() { return refreshDataConsumptionTask(); }

QCoro::Task<> KorvoStore::refreshDataConsumptionTask()
{
    if (m_accessMode == AppAccessMode::Local || !m_identity || m_isDataConsumptionLoading)
        co_return;
    setDataConsumptionLoading(true);
    setDataConsumptionError({});

    const quint64 epoch = m_signedInEpoch;
    QPointer<KorvoStore> self(this);
    std::optional<DataConsumptionResult> result;
    try {
        QCoro::Task<DataConsumptionResult> fetching = authenticatedRequest<DataConsumptionResult>(QStringLiteral("dataConsumption"));
        result = co_await fetching;
    } catch (const std::exception&) {
    }
    // Figures of an account that has signed out since are dropped.
    if (!self || epoch != m_signedInEpoch)
        co_return;
    if (result)
        setDataConsumption(StoreRecords::dataConsumption(*result));
    else
        setDataConsumptionError(usageUnavailable);
    setDataConsumptionLoading(false);
}

void KorvoStore::scheduleDataConsumptionRefresh()
{
    // Queued behind the current work; the timer's context drops it when the store is gone.
    QTimer::singleShot(0, this, [this] { refreshDataConsumptionTask(); });
}
