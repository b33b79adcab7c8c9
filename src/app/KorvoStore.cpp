#include "KorvoStore.h"

#include "WidgetFileDialogs.h"
#include "core/threads/FileWorkQueue.h"
#include "core/threads/SerialQueue.h"
#include "core/bridge/KorvoPublicKeyCache.h"
#include "core/PlatformWording.h"

#include <QDir>
#include <QJSEngine>
#include <QPointer>
#include <QProcessEnvironment>
#include <QQmlEngine>
#include <QTemporaryDir>

namespace {
QPointer<KorvoStore> applicationStore;
}

StoreDependencies StoreDependencies::standard()
{
    // The application's one public-key cache, shared and never deleted.
    std::shared_ptr<KorvoPublicKeyCache> cache(&KorvoPublicKeyCache::shared(), [](KorvoPublicKeyCache*) {});
    StoreDependencies deps{AppPaths::standard(), makeSecretServiceKeychainBackend(),
                           makeWidgetFileDialogs(), {}, QDir::tempPath(), std::make_shared<BridgeRunner>(), cache};
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : env.keys())
        deps.environment.insert(name, env.value(name));
    return deps;
}

KorvoStore::KorvoStore(StoreDependencies dependencies, QObject* parent)
    : QObject(parent)
    , m_deps(std::move(dependencies))
    , m_keychain(std::make_shared<KeychainQueue>(m_deps.keychainBackend))
    , m_history(m_deps.paths)
    , m_historyQueue(std::make_unique<SerialQueue>())
    , m_fileQueue(std::make_shared<FileWorkQueue>())
{
    if (!m_deps.publicKeyCache)
        m_deps.publicKeyCache = std::make_shared<KorvoPublicKeyCache>(m_deps.paths);
    // Every input of the computed workbench values announces them.
    for (auto signal : {&KorvoStore::accessModeChanged, &KorvoStore::modeChanged,
                        &KorvoStore::encryptionTargetChanged, &KorvoStore::recipientSecretIdTextChanged,
                        &KorvoStore::recipientKorvoStateChanged, &KorvoStore::selectedSecretIdChanged})
        connect(this, signal, this, &KorvoStore::activeSecretChanged);
    connect(this, &KorvoStore::encryptionTargetChanged, this, &KorvoStore::recipientLookupRequestChanged);
    connect(this, &KorvoStore::recipientSecretIdTextChanged, this, &KorvoStore::recipientLookupRequestChanged);
    // The recipient look-up follows the entry: each change cancels the running look-up and
    // starts a fresh one (which waits for typing to pause).
    connect(this, &KorvoStore::recipientLookupRequestChanged, this, [this] { prepareRecipientKorvoTask(); });
}

KorvoStore::~KorvoStore()
{
    // Bridge children outliving the store would go on writing files nobody waits for.
    m_deps.bridge->terminateChildren();
}

void KorvoStore::setApplicationStore(KorvoStore* store)
{
    applicationStore = store;
}

KorvoStore* KorvoStore::create(QQmlEngine* engine, QJSEngine*)
{
    if (!applicationStore) {
        // View tests: a store that cannot touch the user's keychain or data folder.
        static QTemporaryDir dataFolder;
        applicationStore = new KorvoStore(StoreDependencies{AppPaths(dataFolder.path()),
                                                            makeInMemoryKeychainBackend(),
                                                            makeWidgetFileDialogs(), {}, QDir::tempPath(),
                                                            std::make_shared<BridgeRunner>()},
                                          engine);
    }
    QJSEngine::setObjectOwnership(applicationStore, QJSEngine::CppOwnership);
    return applicationStore;
}

// ---- the flows' services ----

AccountServices KorvoStore::services() const
{
    return AccountServices{m_deps.bridge, m_keychain, m_deps.publicKeyCache};
}

QCoro::Task<> KorvoStore::keychainIdle()
{
    QCoro::Task<> waiting = m_keychain->idle();
    co_await waiting;
}

// ---- environment ----

bool KorvoStore::environmentHas(const QString& name) const
{
    return m_deps.environment.contains(name);
}

QString KorvoStore::environmentValue(const QString& name) const
{
    return m_deps.environment.value(name);
}

// ---- property access ----

QVariantMap KorvoStore::identityMap() const
{
    if (!m_identity)
        return {};
    QVariantMap map{{QStringLiteral("email"), m_identity->email},
                    {QStringLiteral("principalId"), m_identity->principalId}};
    if (m_identity->selectedSecretId)
        map.insert(QStringLiteral("selectedSecretId"), *m_identity->selectedSecretId);
    return map;
}

QVariant KorvoStore::selectedSecretIdValue() const
{
    return m_selectedSecretId ? QVariant::fromValue(*m_selectedSecretId) : QVariant();
}

QVariantList KorvoStore::activitiesList() const
{
    QVariantList list;
    list.reserve(m_activities.size());
    for (const ActivityItem& item : m_activities)
        list.append(QVariantMap{{QStringLiteral("id"), item.id.toString(QUuid::WithoutBraces).toUpper()},
                                {QStringLiteral("title"), item.title},
                                {QStringLiteral("detail"), item.detail},
                                {QStringLiteral("date"), item.date}});
    return list;
}

QString KorvoStore::version()
{
    return QStringLiteral(KORVO_APP_VERSION).section(QLatin1Char('.'), 0, 1);
}

QString KorvoStore::build()
{
    return QStringLiteral("1");
}

QString KorvoStore::platformText(const QString& text)
{
    return ::platformText(text);
}

// ---- setters: each announces a change only when the value changes ----

template <typename T, typename Signal>
static void assign(KorvoStore* store, T& field, T value, Signal signal)
{
    if (field == value)
        return;
    field = std::move(value);
    emit(store->*signal)();
}

void KorvoStore::setRouteState(AppRoute route, QString email, QString password, QString principalId)
{
    if (m_route == route && m_routeEmail == email && m_routePassword == password
        && m_routePrincipalId == principalId)
        return;
    m_route = route;
    m_routeEmail = std::move(email);
    m_routePassword = std::move(password);
    m_routePrincipalId = std::move(principalId);
    emit routeChanged();
}

void KorvoStore::setRoute(AppRoute route) { setRouteState(route); }

void KorvoStore::showVerifyOtp(const QString& email, const QString& password, const QString& principalId)
{
    setRouteState(AppRoute::VerifyOtp, email, password, principalId);
}

void KorvoStore::showResetPassword(const QString& email)
{
    setRouteState(AppRoute::ResetPassword, email);
}

void KorvoStore::setAccessMode(AppAccessMode mode) { assign(this, m_accessMode, mode, &KorvoStore::accessModeChanged); }
void KorvoStore::setIdentity(std::optional<AccountIdentity> identity) { assign(this, m_identity, std::move(identity), &KorvoStore::identityChanged); }
void KorvoStore::setSecrets(QVariantList secrets) { assign(this, m_secrets, std::move(secrets), &KorvoStore::secretsChanged); }
void KorvoStore::setSelectedSecretId(std::optional<qint64> id) { assign(this, m_selectedSecretId, id, &KorvoStore::selectedSecretIdChanged); }
void KorvoStore::setSession(QVariantMap session) { assign(this, m_session, std::move(session), &KorvoStore::sessionChanged); }
void KorvoStore::setBusy(bool busy) { assign(this, m_isBusy, busy, &KorvoStore::isBusyChanged); }
void KorvoStore::setDecidingLaunch(bool deciding)
{
    assign(this, m_isDecidingLaunch, deciding, &KorvoStore::isDecidingLaunchChanged);
}
void KorvoStore::setStatusMessage(const QString& message, bool result)
{
    if (message == m_statusMessage && result == m_statusIsResult)
        return;
    m_statusMessage = message;
    m_statusIsResult = result;
    emit statusMessageChanged();
}
void KorvoStore::setErrorMessage(const QString& message) { assign(this, m_errorMessage, message, &KorvoStore::errorMessageChanged); }
void KorvoStore::setMode(WorkMode mode) { assign(this, m_mode, mode, &KorvoStore::modeChanged); }
void KorvoStore::setEncryptionTarget(EncryptionTarget target) { assign(this, m_encryptionTarget, target, &KorvoStore::encryptionTargetChanged); }
void KorvoStore::setRecipientSecretIdText(const QString& text) { assign(this, m_recipientSecretIdText, text, &KorvoStore::recipientSecretIdTextChanged); }
void KorvoStore::setSelectedURLs(const QStringList& paths) { assign(this, m_selectedURLs, paths, &KorvoStore::selectedURLsChanged); }
void KorvoStore::setActivities(QList<ActivityItem> activities) { assign(this, m_activities, std::move(activities), &KorvoStore::activitiesChanged); }
void KorvoStore::setBridgeCheck(QVariantMap check) { assign(this, m_bridgeCheck, std::move(check), &KorvoStore::bridgeCheckChanged); }
void KorvoStore::setDataConsumption(QVariantMap record) { assign(this, m_dataConsumption, std::move(record), &KorvoStore::dataConsumptionChanged); }
void KorvoStore::setDataConsumptionLoading(bool loading) { assign(this, m_isDataConsumptionLoading, loading, &KorvoStore::isDataConsumptionLoadingChanged); }
void KorvoStore::setDataConsumptionError(const QString& error) { assign(this, m_dataConsumptionError, error, &KorvoStore::dataConsumptionErrorChanged); }

void KorvoStore::setRecipientKorvoState(RecipientKorvoState state, qint64 number)
{
    if (state == RecipientKorvoState::Idle)
        number = 0;
    if (m_recipientKorvoState == state && m_recipientKorvoNumber == number)
        return;
    m_recipientKorvoState = state;
    m_recipientKorvoNumber = number;
    emit recipientKorvoStateChanged();
}
