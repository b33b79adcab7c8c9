// The user's Korvos and their selection, the other person's Korvo number, and usage figures.
#include "KorvoStore.h"
#include "LaunchEnvironment.h"
#include "StoreRecords.h"
#include "core/PlatformWording.h"
#include "core/flows/KorvosFlow.h"
#include "core/flows/RecipientLookup.h"
#include "core/flows/UsageFlow.h"

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
const QString usageUnavailable = QStringLiteral("Usage is temporarily unavailable.");
// Typing pauses this long before a number is looked up.
constexpr std::chrono::milliseconds recipientDebounce{280};

} // namespace

// ---- labels and validity of the workbench's key ----

std::optional<qint64> KorvoStore::recipientSecretId() const
{
    return RecipientLookup::korvoNumber(m_recipientSecretIdText);
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
    QCoro::Task<bool> running = perform(loadingKorvosBusy, [this] { return refreshKorvos(false); });
    co_return co_await running;
}

QCoro::Task<> KorvoStore::refreshKorvos(bool createIfEmpty)
{
    const KorvosFlow flow(services());
    QCoro::Task<KorvosFlow::Listed> listing = flow.refresh(signedInIdentity(), m_selectedSecretId, createIfEmpty);
    const KorvosFlow::Listed listed = co_await listing;
    setSecrets(StoreRecords::secrets(listed.secrets));
    if (!listed.choice)
        co_return;
    setSelectedSecretId(*listed.choice);
    QCoro::Task<> saving = saveSelectedSecret(*listed.choice);
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
    const KorvosFlow flow(services());
    QCoro::Task<qint64> creating = flow.create(signedInIdentity());
    const qint64 created = co_await creating;
    setSelectedSecretId(created);
    QCoro::Task<> saving = saveSelectedSecret(created);
    co_await saving;
    QCoro::Task<> refreshing = refreshKorvos(false);
    co_await refreshing;
    rememberActivity(ActivityItem::make(korvoCreatedTitle, korvoLabelPrefix + QString::number(created)));
}

QCoro::Task<> KorvoStore::saveSelectedSecret(qint64 secretId)
{
    // Start states never touch the keychain.
    if (environmentHas(LaunchEnvironment::startRoute) || !m_identity)
        co_return;
    const KorvosFlow flow(services());
    const QString principalId = m_identity->principalId;
    QPointer<KorvoStore> self(this);
    QCoro::Task<AccountIdentity> saving = flow.saveSelection(*m_identity, secretId);
    co_await saving;
    // Only the selection is taken over: the identity may have changed meanwhile.
    if (self && m_identity && m_identity->principalId == principalId) {
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
        const RecipientLookup lookup(services());
        QCoro::Task<QString> fetching = lookup.publicKey(signedInIdentity(), number);
        co_await fetching;
        found = true;
    } catch (const KorvoError&) {
        // Unknown, unreachable or not verified: the mark says the number cannot be used.
    }
    // A newer entry or look-up owns the state now; so does a changed target or number.
    if (!current() || m_encryptionTarget != EncryptionTarget::Recipient || recipientSecretId() != number)
        co_return;
    setRecipientKorvoState(found ? RecipientKorvoState::Ready : RecipientKorvoState::Unavailable, number);
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
        const UsageFlow flow(services());
        QCoro::Task<DataConsumptionResult> fetching = flow.fetch(*m_identity);
        result = co_await fetching;
    } catch (const KorvoError&) {
        // The figures stay as they were; the card says they are unavailable.
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
