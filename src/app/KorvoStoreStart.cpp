// The launch decision, the test start states and the switches between access modes.
#include "KorvoStore.h"
#include "core/PlatformWording.h"
#include "LaunchEnvironment.h"
#include "StoreRecords.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

namespace {
const QString uiInputTestModeStatus = QStringLiteral("UI input test mode.");
const QString chooseProtectionStatus = QStringLiteral("Choose offline protection or connect an account.");
const QString offlineReadyStatus = QStringLiteral("Offline protection is ready. Connect anytime for post-quantum protection.");
const QString signInOrCreateStatus = QStringLiteral("Sign in or create an account.");
const QString welcomeBackPrefix = QStringLiteral("Welcome back, ");
const QString signedOutStatus = QStringLiteral("Signed out.");
const QString macRemovedStatus = platformText(QStringLiteral("This Mac was removed from your account."));
const QString macRemovalFailed = platformText(QStringLiteral("This Mac could not remove its saved sign-in data."));

QString welcomeBack(const AccountIdentity& identity)
{
    return welcomeBackPrefix + identity.email + QLatin1Char('.');
}

// The demonstration account of the "main" start state.
namespace demo {
const QString email = QStringLiteral("alex.morgan@example.com");
const QString principalId = QStringLiteral("6F1C2A4E-93B7-4D0A-8E55-2C71B9D4F013");
const QString sessionAddress = QStringLiteral("0x5a3c9e1f7b2d4c6a8e0f1b3d5c7e9a2b4d6f8e0c");
const QString expiresAt = QStringLiteral("2030-01-15T12:00:00Z");
constexpr qint64 secretId = 25;
const QString pictureName = QStringLiteral("Holiday Photo.heic");
const QString savedPath = QStringLiteral("/home/alex/Documents/Holiday Photo.heic.korvo");

UsageStats usage(double limit, double used, int count, double limitGB, double usedGB)
{
    return UsageStats{limit, used, limit - used, count, 500, 1.0, limitGB, usedGB, limitGB - usedGB};
}
} // namespace demo
} // namespace

QCoro::QmlTask KorvoStore::bootstrap()
{
    return bootstrapTask();
}

QCoro::Task<> KorvoStore::bootstrapTask()
{
    // The window shows no screen until the first route is known (no sign-in screen that the
    // decision then replaces).
    setDecidingLaunch(true);
    loadActivities(AppAccessMode::Account);

    if (environmentHas(LaunchEnvironment::registrationProbeEmail)
        && environmentHas(LaunchEnvironment::registrationProbePassword)) {
        setIdentity(std::nullopt);
        setRoute(AppRoute::CreateAccount);
        setDecidingLaunch(false);
        QCoro::Task<bool> running = registerAccountTask(environmentValue(LaunchEnvironment::registrationProbeEmail),
                                                        environmentValue(LaunchEnvironment::registrationProbePassword));
        co_await running;
        co_return;
    }

    const bool hasStartRoute = environmentHas(LaunchEnvironment::startRoute);
    if (hasStartRoute && installStartRoute(environmentValue(LaunchEnvironment::startRoute))) {
        setDecidingLaunch(false);
        installInterfaceCheckStates();
        co_return;
    }

    // The launch runs on its own: a store closed meanwhile is left alone.
    QPointer<KorvoStore> self(this);
    AccountIdentity identity;
    try {
        QCoro::Task<AccountIdentity> loading = m_keychain->loadIdentity();
        identity = co_await loading;
    } catch (const KeychainStoreError&) {
        if (!self)
            co_return;
        enterLocalMode();
        setDecidingLaunch(false);
        installInterfaceCheckStates();
        co_return;
    }
    if (!self)
        co_return;
    setIdentity(identity);
    setSelectedSecretId(identity.selectedSecretId);
    setRoute(AppRoute::Login);
    setStatusMessage(welcomeBack(identity));
    setDecidingLaunch(false);
    QCoro::Task<> checking = runBridgeCheck();
    co_await checking;
    if (self)
        installInterfaceCheckStates();
}

bool KorvoStore::installStartRoute(const QString& startRoute)
{
    if (startRoute == QLatin1String("createAccount")) {
        setIdentity(std::nullopt);
        setRoute(AppRoute::CreateAccount);
        setStatusMessage(uiInputTestModeStatus);
    } else if (startRoute == QLatin1String("login")) {
        setIdentity(std::nullopt);
        setAccessMode(AppAccessMode::Account);
        setRoute(AppRoute::Login);
        setStatusMessage(chooseProtectionStatus);
    } else if (startRoute == QLatin1String("local")) {
        enterLocalMode();
    } else if (startRoute == QLatin1String("main")) {
        installDemonstrationState();
    } else {
        return false;
    }
    return true;
}

void KorvoStore::installInterfaceCheckStates()
{
    if (environmentHas(LaunchEnvironment::startSelection)) {
        QStringList paths;
        for (QString path : LaunchEnvironment::selectionPaths(environmentValue(LaunchEnvironment::startSelection))) {
            if (QFileInfo(path).isDir() && !path.endsWith(QLatin1Char('/')))
                path += QLatin1Char('/');
            paths.append(path);
        }
        setSelectedURLs(paths);
    }
    if (environmentHas(LaunchEnvironment::startBusy)) {
        setBusy(true);
        setStatusMessage(environmentValue(LaunchEnvironment::startBusy));
    }
    if (environmentHas(LaunchEnvironment::startError))
        setErrorMessage(environmentValue(LaunchEnvironment::startError));
}

void KorvoStore::installDemonstrationState()
{
    setAccessMode(AppAccessMode::Account);
    setIdentity(AccountIdentity{demo::email, demo::principalId, QString(), demo::secretId, std::nullopt});
    setSession(StoreRecords::session({demo::principalId, demo::sessionAddress, demo::expiresAt}));
    setSelectedSecretId(demo::secretId);
    KorvoSecret secret;
    secret.secretId = demo::secretId;
    secret.ownerPrincipalId = demo::principalId;
    secret.clusterId = 1;
    secret.isSyncing = 0;
    setSecrets(StoreRecords::secrets({secret}));

    const QDateTime periodStart = QDateTime(QDate::currentDate().addDays(1 - QDate::currentDate().day()),
                                            QTime(0, 0), Qt::UTC);
    setDataConsumption(StoreRecords::dataConsumption(
        {demo::principalId, QStringLiteral("web2"), QStringLiteral("free"), QStringLiteral("monthly"),
         {periodStart}, {periodStart.addMonths(1)}, demo::usage(3221225472.0, 1048576.0, 2, 3.0, 0.001),
         demo::usage(2147483648.0, 524288.0, 1, 2.0, 0.0005)}));

    if (m_activities.isEmpty()) {
        const QString locked = demo::pictureName + QStringLiteral(".korvo");
        setActivities({ActivityItem::make(QStringLiteral("Opened"), locked + QStringLiteral(" -> ") + demo::pictureName),
                       ActivityItem::make(QStringLiteral("Locked"), demo::pictureName + QStringLiteral(" -> ") + locked),
                       ActivityItem::make(QStringLiteral("Account ready"), platformText(QStringLiteral("Protection is ready on this Mac")))});
    }

    if (environmentHas(LaunchEnvironment::startTarget)
        && environmentValue(LaunchEnvironment::startTarget) == QLatin1String("recipient")) {
        setEncryptionTarget(EncryptionTarget::Recipient);
        setRecipientSecretIdText(environmentHas(LaunchEnvironment::recipientSecretId)
                                     ? environmentValue(LaunchEnvironment::recipientSecretId)
                                     : QStringLiteral("42"));
    }
    setRoute(AppRoute::Main);
    setStatusMessage(QStringLiteral("Saved to ") + demo::savedPath);
}

void KorvoStore::enterLocalMode()
{
    resetSignedInState();
    setAccessMode(AppAccessMode::Local);
    loadActivities(AppAccessMode::Local);
    setErrorMessage({});
    setStatusMessage(offlineReadyStatus);
    setRoute(AppRoute::Main);
}

void KorvoStore::leaveLocalMode()
{
    resetSignedInState();
    setAccessMode(AppAccessMode::Account);
    loadActivities(AppAccessMode::Account);
    setStatusMessage(m_identity ? welcomeBack(*m_identity) : signInOrCreateStatus);
    setRoute(AppRoute::Login);
}

void KorvoStore::resetSignedInState()
{
    ++m_signedInEpoch;
    setSession({});
    setSecrets({});
    setSelectedSecretId(std::nullopt);
    setEncryptionTarget(EncryptionTarget::Own);
    setRecipientSecretIdText({});
    setRecipientKorvoState(RecipientKorvoState::Idle);
    setSelectedURLs({});
    setDataConsumption({});
    setDataConsumptionError({});
    setDataConsumptionLoading(false);
}

void KorvoStore::signOut(bool deleteIdentity)
{
    signOutTask(deleteIdentity);
}

QCoro::Task<> KorvoStore::signOutTask(bool deleteIdentity)
{
    resetSignedInState();
    setAccessMode(AppAccessMode::Account);
    setRoute(AppRoute::Login);
    setStatusMessage(signedOutStatus);
    if (!deleteIdentity)
        co_return;
    QCoro::Task<bool> removing = removeLocalAccountData();
    if (co_await removing) {
        setIdentity(std::nullopt);
        setStatusMessage(macRemovedStatus);
    } else {
        setErrorMessage(macRemovalFailed);
    }
}

QCoro::Task<bool> KorvoStore::removeLocalAccountData()
{
    QCoro::Task<bool> deleting = m_keychain->deleteIdentity();
    const bool identityRemoved = co_await deleting;
    setActivities({});
    QCoro::Task<bool> removing = removeHistoryFile(AppAccessMode::Account);
    const bool historyRemoved = co_await removing;
    co_return historyRemoved && identityRemoved;
}

QCoro::Task<> KorvoStore::runBridgeCheck()
{
    const std::shared_ptr<BridgeRunner> bridge = m_deps.bridge;
    QPointer<KorvoStore> self(this);
    try {
        QCoro::Task<BridgeCheckResult> running = bridge->check();
        const BridgeCheckResult check = co_await running;
        if (!self)
            co_return;
        setBridgeCheck({{QStringLiteral("sdkVersion"), check.sdkVersion},
                        {QStringLiteral("blackboxUrl"), check.blackboxUrl},
                        {QStringLiteral("node"), check.node}});
    } catch (const KorvoError&) {
        if (self)
            setBridgeCheck({});
    }
}
