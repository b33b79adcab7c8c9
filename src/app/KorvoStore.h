#pragma once

// KorvoStore — the one model object behind every view (QML singleton `KorvoStore`, `import Korvo`).
// Properties (all NOTIFY; "none" of an optional value reads as undefined / "" / {} in QML):
//   route (AppRoute, writable) + routeEmail, routePassword, routePrincipalId (values of VerifyOtp
//     and ResetPassword); accessMode (AppAccessMode); mode (WorkMode, writable);
//   encryptionTarget (EncryptionTarget, writable); recipientSecretIdText (string, writable);
//   recipientKorvoState (RecipientKorvoState) + recipientKorvoNumber (int of checking/ready/unavailable)
//   identity: {} or { email, principalId, selectedSecretId (int or undefined) }; hasIdentity (bool)
//   secrets: [ { secretId:int, ownerPrincipalId, clusterId:int, delegatePrincipalId?, isSyncing?:int,
//     secretType?:int, publicKeyCid?, createdAt?, updatedAt? } ]   (absent keys are undefined)
//   selectedSecretId: int or undefined; session: {} or { principalId, sessionAddress, expiresAt }
//   isBusy, statusMessage, errorMessage (writable: set "" when the alert is dismissed)
//   isDecidingLaunch: the launch decision runs and has not yet set the first route
//   selectedURLs: [ path strings ] (writable); a folder's path ends with "/"
//   activities: [ { id (string), title, detail, date (Date) } ], newest first
//   bridgeCheck: {} or { sdkVersion, blackboxUrl, node }
//   dataConsumption: {} or { userId, userType, planId, cycleType, periodStart (Date), periodEnd (Date),
//     encryption: UsageStats, decryption: UsageStats } with UsageStats = { limit, used, remaining,
//     count, requestLimit, rateLimit, limitGB, usedGB, remainingGB } (numbers); hasDataConsumption
//   isDataConsumptionLoading, dataConsumptionError ("" = none)
//   activeSecretIsValid, activeSecretLabel, recipientLookupRequest (computed); version, build
// Asynchronous operations return a task; `KorvoStore.x().then(result => ...)` gets the result
// (booleans for requestAccountDeletion and confirmAccountDeletion). The recipient look-up runs
// by itself whenever recipientLookupRequest changes (debounced); views may also start it. Windows: the singleton
// AppDelegate has showMainWindow() ("Open Korvo", Ctrl+0) and showSettings() (Ctrl+,).

#include "FileDialogs.h"
#include "OperationProgress.h"
#include "StoreError.h"
#include "core/ActivityHistory.h"
#include "core/AppPaths.h"
#include "core/KeychainQueue.h"
#include "core/flows/AccountServices.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QtQml/qqmlregistration.h>
#include <qcoro/qcoroqmltask.h>

#include <functional>
#include <memory>
#include <optional>

class QQmlEngine;
class QJSEngine;
class SerialQueue;
class FileWorkQueue;
class KorvoPublicKeyCache;

// What a store needs from the outside world. Tests pass an in-memory keychain, a temporary data
// folder, scripted dialogs and their own environment.
struct StoreDependencies {
    AppPaths paths;
    std::shared_ptr<KeychainBackend> keychainBackend;
    std::shared_ptr<FileDialogs> dialogs;
    // The launch environment (KORVO_START_ROUTE and the others); a name present counts as set.
    QHash<QString, QString> environment;
    // Where temporary bundles are written.
    QString temporaryDirectory;
    // The bridge script runner (account mode and the health check).
    std::shared_ptr<BridgeRunner> bridge;
    // Recipients' public keys, shared by every store of the application. Absent: a cache of
    // this store's own in its data folder.
    std::shared_ptr<KorvoPublicKeyCache> publicKeyCache = {};

    // The real user's data folder, Secret Service keychain, QFileDialog and process environment.
    static StoreDependencies standard();
};

class KorvoStore : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    enum class AppRoute { VerifyOtp, ResetPassword, Login, CreateAccount, ForgotPassword, Main };
    Q_ENUM(AppRoute)
    enum class AppAccessMode { Account, Local };
    Q_ENUM(AppAccessMode)
    enum class WorkMode { Encrypt, Decrypt };
    Q_ENUM(WorkMode)
    enum class EncryptionTarget { Own, Recipient };
    Q_ENUM(EncryptionTarget)
    enum class RecipientKorvoState { Idle, Checking, Ready, Unavailable };
    Q_ENUM(RecipientKorvoState)

    Q_PROPERTY(AppRoute route READ route WRITE setRoute NOTIFY routeChanged)
    Q_PROPERTY(QString routeEmail READ routeEmail NOTIFY routeChanged)
    Q_PROPERTY(QString routePassword READ routePassword NOTIFY routeChanged)
    Q_PROPERTY(QString routePrincipalId READ routePrincipalId NOTIFY routeChanged)
    Q_PROPERTY(AppAccessMode accessMode READ accessMode NOTIFY accessModeChanged)
    Q_PROPERTY(QVariantMap identity READ identityMap NOTIFY identityChanged)
    Q_PROPERTY(bool hasIdentity READ hasIdentity NOTIFY identityChanged)
    Q_PROPERTY(QVariantList secrets READ secrets NOTIFY secretsChanged)
    Q_PROPERTY(QVariant selectedSecretId READ selectedSecretIdValue NOTIFY selectedSecretIdChanged)
    Q_PROPERTY(QVariantMap session READ session NOTIFY sessionChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(bool isDecidingLaunch READ isDecidingLaunch NOTIFY isDecidingLaunchChanged)
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)
    // The status line reports a finished result (not a busy line left in place, a failure's
    // last step, "Cancelled." or a keyring problem): the window marks it as done.
    Q_PROPERTY(bool statusIsResult READ statusIsResult NOTIFY statusMessageChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage WRITE setErrorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(WorkMode mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(EncryptionTarget encryptionTarget READ encryptionTarget WRITE setEncryptionTarget NOTIFY encryptionTargetChanged)
    Q_PROPERTY(QString recipientSecretIdText READ recipientSecretIdText WRITE setRecipientSecretIdText NOTIFY recipientSecretIdTextChanged)
    Q_PROPERTY(RecipientKorvoState recipientKorvoState READ recipientKorvoState NOTIFY recipientKorvoStateChanged)
    Q_PROPERTY(qint64 recipientKorvoNumber READ recipientKorvoNumber NOTIFY recipientKorvoStateChanged)
    Q_PROPERTY(QStringList selectedURLs READ selectedURLs WRITE setSelectedURLs NOTIFY selectedURLsChanged)
    Q_PROPERTY(QVariantList activities READ activitiesList NOTIFY activitiesChanged)
    Q_PROPERTY(QVariantMap bridgeCheck READ bridgeCheck NOTIFY bridgeCheckChanged)
    Q_PROPERTY(QVariantMap dataConsumption READ dataConsumption NOTIFY dataConsumptionChanged)
    Q_PROPERTY(bool hasDataConsumption READ hasDataConsumption NOTIFY dataConsumptionChanged)
    Q_PROPERTY(bool isDataConsumptionLoading READ isDataConsumptionLoading NOTIFY isDataConsumptionLoadingChanged)
    Q_PROPERTY(QString dataConsumptionError READ dataConsumptionError NOTIFY dataConsumptionErrorChanged)
    Q_PROPERTY(bool activeSecretIsValid READ activeSecretIsValid NOTIFY activeSecretChanged)
    Q_PROPERTY(QString activeSecretLabel READ activeSecretLabel NOTIFY activeSecretChanged)
    Q_PROPERTY(QString recipientLookupRequest READ recipientLookupRequest NOTIFY recipientLookupRequestChanged)
    Q_PROPERTY(QString version READ version CONSTANT)
    Q_PROPERTY(QString build READ build CONSTANT)

    static constexpr int activityLimit = ActivityHistory::activityLimit;

    explicit KorvoStore(StoreDependencies dependencies, QObject* parent = nullptr);
    ~KorvoStore() override;

    // The QML singleton: the application's store (installed by the application); a store on an
    // in-memory keychain and a temporary folder when none was installed (view tests).
    static KorvoStore* create(QQmlEngine* engine, QJSEngine* scriptEngine);
    static void setApplicationStore(KorvoStore* store);

    // ---- state ----
    AppRoute route() const { return m_route; }
    void setRoute(AppRoute route);
    // Routes that carry values.
    void showVerifyOtp(const QString& email, const QString& password, const QString& principalId);
    void showResetPassword(const QString& email);
    QString routeEmail() const { return m_routeEmail; }
    QString routePassword() const { return m_routePassword; }
    QString routePrincipalId() const { return m_routePrincipalId; }
    AppAccessMode accessMode() const { return m_accessMode; }
    const std::optional<AccountIdentity>& identity() const { return m_identity; }
    QVariantMap identityMap() const;
    bool hasIdentity() const { return m_identity.has_value(); }
    QVariantList secrets() const { return m_secrets; }
    std::optional<qint64> selectedSecretId() const { return m_selectedSecretId; }
    QVariant selectedSecretIdValue() const;
    QVariantMap session() const { return m_session; }
    bool isBusy() const { return m_isBusy; }
    bool isDecidingLaunch() const { return m_isDecidingLaunch; }
    QString statusMessage() const { return m_statusMessage; }
    bool statusIsResult() const { return m_statusIsResult; }
    QString errorMessage() const { return m_errorMessage; }
    void setErrorMessage(const QString& message);
    WorkMode mode() const { return m_mode; }
    void setMode(WorkMode mode);
    EncryptionTarget encryptionTarget() const { return m_encryptionTarget; }
    void setEncryptionTarget(EncryptionTarget target);
    QString recipientSecretIdText() const { return m_recipientSecretIdText; }
    void setRecipientSecretIdText(const QString& text);
    RecipientKorvoState recipientKorvoState() const { return m_recipientKorvoState; }
    qint64 recipientKorvoNumber() const { return m_recipientKorvoNumber; }
    QStringList selectedURLs() const { return m_selectedURLs; }
    void setSelectedURLs(const QStringList& paths);
    const QList<ActivityItem>& activities() const { return m_activities; }
    QVariantList activitiesList() const;
    QVariantMap bridgeCheck() const { return m_bridgeCheck; }
    QVariantMap dataConsumption() const { return m_dataConsumption; }
    bool hasDataConsumption() const { return !m_dataConsumption.isEmpty(); }
    bool isDataConsumptionLoading() const { return m_isDataConsumptionLoading; }
    QString dataConsumptionError() const { return m_dataConsumptionError; }
    bool activeSecretIsValid() const;
    QString activeSecretLabel() const;
    QString recipientLookupRequest() const;
    std::optional<qint64> recipientSecretId() const;
    static QString version();
    static QString build();
    // A sentence in this platform's words ("this Mac" reads "this computer" off macOS).
    Q_INVOKABLE static QString platformText(const QString& text);

    // ---- operations for the views (asynchronous ones return a task QML may `.then`) ----
    Q_INVOKABLE QCoro::QmlTask bootstrap();
    Q_INVOKABLE void enterLocalMode();
    Q_INVOKABLE void leaveLocalMode();
    Q_INVOKABLE void signOut(bool deleteIdentity);
    Q_INVOKABLE void chooseFiles();
    // The workbench's main action: the file workflow through the runner ("Locking file..." or
    // "Opening file...").
    Q_INVOKABLE QCoro::QmlTask runFileOperation();
    // A drop: replaces the selection with the local files among the URLs; folders get "/".
    Q_INVOKABLE void loadFileURLs(const QList<QUrl>& urls);
    Q_INVOKABLE void setSelectedSecret(qint64 secretId);
    Q_INVOKABLE QCoro::QmlTask refreshSecrets();
    Q_INVOKABLE QCoro::QmlTask createSecret();
    Q_INVOKABLE QCoro::QmlTask prepareRecipientKorvo();
    Q_INVOKABLE QCoro::QmlTask refreshDataConsumption();
    Q_INVOKABLE QCoro::QmlTask login(const QString& email, const QString& password);
    // Account creation ("register" is a reserved word in C++).
    Q_INVOKABLE QCoro::QmlTask registerAccount(const QString& email, const QString& password);
    Q_INVOKABLE QCoro::QmlTask verifyOtpAndFinish(const QString& email, const QString& password,
                                                  const QString& principalId, const QString& otp);
    Q_INVOKABLE QCoro::QmlTask resendOtp(const QString& email);
    Q_INVOKABLE QCoro::QmlTask forgotPassword(const QString& email);
    Q_INVOKABLE QCoro::QmlTask resetPassword(const QString& email, const QString& otp, const QString& newPassword);
    Q_INVOKABLE QCoro::QmlTask requestAccountDeletion(const QString& password);
    Q_INVOKABLE QCoro::QmlTask confirmAccountDeletion(const QString& otp);

    // ---- the same operations as C++ tasks (the application and the tests await these) ----
    QCoro::Task<> bootstrapTask();
    QCoro::Task<bool> runFileOperationTask();
    QCoro::Task<bool> loginTask(QString email, QString password);
    QCoro::Task<bool> registerAccountTask(QString email, QString password);
    QCoro::Task<bool> verifyOtpAndFinishTask(QString email, QString password, QString principalId, QString otp);
    QCoro::Task<bool> resendOtpTask(QString email);
    QCoro::Task<bool> forgotPasswordTask(QString email);
    QCoro::Task<bool> resetPasswordTask(QString email, QString otp, QString newPassword);
    QCoro::Task<bool> requestAccountDeletionTask(QString password);
    QCoro::Task<bool> confirmAccountDeletionTask(QString otp);
    QCoro::Task<bool> refreshSecretsTask();
    QCoro::Task<bool> createSecretTask();
    QCoro::Task<> prepareRecipientKorvoTask();
    QCoro::Task<> refreshDataConsumptionTask();
    QCoro::Task<> signOutTask(bool deleteIdentity);
    // End when every keychain or history write started so far has ended (tests).
    QCoro::Task<> keychainIdle();
    QCoro::Task<> historyIdle();

    // The runner: busy flag and line, error cleared, any failure turned into errorMessage.
    // Escape and Cancel end a run as they end a file job: its bridge child is ended and the line
    // reads "Cancelled."; a run whose job sets up its own cancellation (the file workflow) says so.
    using Operation = std::function<QCoro::Task<>()>;
    QCoro::Task<bool> perform(QString busyMessage, Operation operation, bool jobCancelsItself = false);
    // The sentence errorMessage shows for an error's description.
    static QString userFacingSentence(const QString& description);

    // The name the save panel suggests.
    QString defaultOutputName(const QString& path, WorkMode mode) const;
    // The history file of an access mode (creates the data folder).
    QString activityHistoryURL(AppAccessMode mode) const;

signals:
    void routeChanged();
    void accessModeChanged();
    void identityChanged();
    void secretsChanged();
    void selectedSecretIdChanged();
    void sessionChanged();
    void isBusyChanged();
    void isDecidingLaunchChanged();
    void statusMessageChanged();
    void errorMessageChanged();
    void modeChanged();
    void encryptionTargetChanged();
    void recipientSecretIdTextChanged();
    void recipientKorvoStateChanged();
    void selectedURLsChanged();
    void activitiesChanged();
    void bridgeCheckChanged();
    void dataConsumptionChanged();
    void isDataConsumptionLoadingChanged();
    void dataConsumptionErrorChanged();
    void activeSecretChanged();
    void recipientLookupRequestChanged();

private:
    // Setters of read-only properties.
    void setAccessMode(AppAccessMode mode);
    void setIdentity(std::optional<AccountIdentity> identity);
    void setSecrets(QVariantList secrets);
    void setSelectedSecretId(std::optional<qint64> secretId);
    void setSession(QVariantMap session);
    void setBusy(bool busy);
    void setDecidingLaunch(bool deciding);
    // `result`: the line reports a finished result (statusIsResult).
    void setStatusMessage(const QString& message, bool result = true);
    void setRecipientKorvoState(RecipientKorvoState state, qint64 number = 0);
    void setActivities(QList<ActivityItem> activities);
    void setBridgeCheck(QVariantMap check);
    void setDataConsumption(QVariantMap record);
    void setDataConsumptionLoading(bool loading);
    void setDataConsumptionError(const QString& error);
    void setRouteState(AppRoute route, QString email = {}, QString password = {}, QString principalId = {});

    bool environmentHas(const QString& name) const;
    QString environmentValue(const QString& name) const;
    static ActivityHistory::Mode historyMode(AppAccessMode mode);

    // Start states and mode switches.
    bool installStartRoute(const QString& startRoute);
    void installDemonstrationState();
    void installInterfaceCheckStates();
    void resetSignedInState();
    QCoro::Task<bool> removeLocalAccountData();

    // The flows' services: this store's bridge, keychain queue and key cache.
    AccountServices services() const;
    // The signed-in identity; throws "Sign in on this computer first." without one.
    const AccountIdentity& signedInIdentity() const;
    // Shows a signed-in account: identity, account mode, its history; then its session and Korvos.
    QCoro::Task<> enterAccount(AccountIdentity identity, QString activityTitle, QString activityDetail,
                               std::optional<QString> password = {});
    // Applies a Korvo list and, when it chose another Korvo, selects and saves it.
    QCoro::Task<> refreshKorvos(bool createIfEmpty);
    QCoro::Task<> saveSelectedSecret(qint64 secretId);

    // Account operations.
    QCoro::Task<> loginSteps(QString email, QString password);
    QCoro::Task<> verifyOtpSteps(QString email, QString password, QString principalId, QString otp);
    QCoro::Task<> createSecretSteps();
    QCoro::Task<> confirmAccountDeletionSteps(QString otp);

    // File workflow.
    QCoro::Task<> runFileOperationSteps();
    QString askForOutputURL(const QString& input, WorkMode mode);
    qint64 operationSecretId() const;
    QString recipientActivitySuffix(qint64 secretId) const;

    // Activity history.
    void loadActivities(AppAccessMode mode);
    void saveActivities();
    QCoro::Task<> writeHistory(AppAccessMode mode, QList<ActivityItem> items);
    QCoro::Task<bool> removeHistoryFile(AppAccessMode mode);
    void rememberActivity(const ActivityItem& item);

    // Bootstrap's bridge health check; failures leave bridgeCheck empty.
    QCoro::Task<> runBridgeCheck();
    // Usage figures refreshed in the background; the task does not keep the store alive.
    void scheduleDataConsumptionRefresh();

    StoreDependencies m_deps;
    // Runs of perform() under way: the store stays busy until the last one ends.
    int m_activeRuns = 0;
    // Bumped by every change of the recipient entry and every look-up start: a look-up whose
    // number is no longer current stops at its next step.
    quint64 m_recipientLookupGeneration = 0;
    // Bumped whenever the signed-in state is cleared: late usage answers of an earlier sign-in
    // are dropped.
    quint64 m_signedInEpoch = 0;
    std::shared_ptr<KeychainQueue> m_keychain;
    ActivityHistory m_history;
    std::unique_ptr<SerialQueue> m_historyQueue;
    std::shared_ptr<FileWorkQueue> m_fileQueue;
    // Lists handed to the history queue and not yet written, by access mode.
    struct UnsavedHistory {
        QList<ActivityItem> items;
        int writes = 0;
    };
    QHash<AppAccessMode, UnsavedHistory> m_unsavedHistory;

    AppRoute m_route = AppRoute::Login;
    QString m_routeEmail, m_routePassword, m_routePrincipalId;
    AppAccessMode m_accessMode = AppAccessMode::Account;
    std::optional<AccountIdentity> m_identity;
    QVariantList m_secrets;
    std::optional<qint64> m_selectedSecretId;
    QVariantMap m_session;
    bool m_isBusy = false;
    bool m_isDecidingLaunch = false;
    QString m_statusMessage;
    bool m_statusIsResult = true;
    QString m_errorMessage;
    WorkMode m_mode = WorkMode::Encrypt;
    EncryptionTarget m_encryptionTarget = EncryptionTarget::Own;
    QString m_recipientSecretIdText;
    RecipientKorvoState m_recipientKorvoState = RecipientKorvoState::Idle;
    qint64 m_recipientKorvoNumber = 0;
    QStringList m_selectedURLs;
    QList<ActivityItem> m_activities;
    QVariantMap m_bridgeCheck;
    QVariantMap m_dataConsumption;
    bool m_isDataConsumptionLoading = false;
    QString m_dataConsumptionError;

    // ---- progress and cancel of the file workflow (KorvoStoreFiles.cpp) ----
    // progress: { visible, fraction (0..1), text ("1.0 GB of 2.0 GB, about 12 s left"),
    //   cancellable }; the bar shows once a bundling, locking or opening stage has run 0.5 s.
    // cancelOperation() stops the running file operation (Cancel, Escape): every temporary and
    // partial file goes, an earlier file at the output path stays, the status reads "Cancelled.".
    // keyringProblem: "" while the keyring answers, else the sentence saying what is wrong with
    // it and what to do; checked when the window opens (checkKeyringTask) and, in local mode,
    // before the save panel of every operation.
public:
    Q_PROPERTY(OperationProgress* progress READ progress CONSTANT)
    Q_PROPERTY(QString keyringProblem READ keyringProblem NOTIFY keyringProblemChanged)
    OperationProgress* progress() { return &m_progress; }
    Q_INVOKABLE void cancelOperation() { m_progress.cancel(); }
    QString keyringProblem() const { return m_keyringProblem; }
    QCoro::Task<> checkKeyringTask();
    Q_SIGNAL void keyringProblemChanged();
    // While held (the window asks whether to quit), a file job waits before its save panel.
    void setSavePanelHeld(bool held);
    Q_SIGNAL void savePanelHeldChanged();
    // The bridge health check (bridgeCheck) where the launch decision did not run it (local mode).
    QCoro::Task<> checkBridgeTask();
    // Files handed over at launch (`korvo FILE...`, a file manager): they become the selection,
    // in open mode when every one is a protected file, else in lock mode.
    void selectLaunchFiles(const QStringList& paths);

private:
    // The local key, fetched on the keychain's queue (made only for locking; opening without
    // one fails); keyringProblem follows the answer.
    QCoro::Task<QByteArray> localKey(WorkMode mode);
    void setKeyringProblem(const QString& problem);
    OperationProgress m_progress;
    QString m_keyringProblem;
    // The status line that a keyring problem replaced, back once the keyring answers.
    QString m_statusBeforeKeyringProblem;
    bool m_savePanelHeld = false;
};
