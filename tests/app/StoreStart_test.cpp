// The launch decision, the start states and the switches between access modes.
#include "support/StoreFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>

using Route = KorvoStore::AppRoute;
using Access = KorvoStore::AppAccessMode;

namespace {
const QString offlineReady = QStringLiteral("Offline protection is ready. Connect anytime for post-quantum protection.");
const QString keychainService = QStringLiteral("com.korvo.security.macos");
const QString identityAccount = QStringLiteral("web2.identity");

void writeHistory(const QString& path, const QList<ActivityItem>& items)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(ActivityHistory::encode(items));
}
} // namespace

TEST_F(StoreTest, FirstLaunchWithEmptyKeychainOpensLocalModeWithLocalHistory)
{
    writeHistory(store().activityHistoryURL(Access::Local), {ActivityItem::make("Locked on this Mac", "a -> b")});
    writeHistory(store().activityHistoryURL(Access::Account), {ActivityItem::make("Signed in", "x@y.z")});
    await(store().bootstrapTask());
    EXPECT_EQ(store().route(), Route::Main);
    EXPECT_EQ(store().accessMode(), Access::Local);
    EXPECT_EQ(store().statusMessage(), offlineReady);
    ASSERT_EQ(store().activities().size(), 1);
    EXPECT_EQ(store().activities().front().title, "Locked on this Mac");
    EXPECT_FALSE(store().hasIdentity());
}

TEST_F(StoreTest, SavedIdentityLandsOnSignInGreetedByEmailWithoutSession)
{
    saveIdentity("ana@example.com", 31);
    writeHistory(store().activityHistoryURL(Access::Account), {ActivityItem::make("Signed in", "ana@example.com")});
    await(store().bootstrapTask());
    EXPECT_EQ(store().route(), Route::Login);
    EXPECT_EQ(store().accessMode(), Access::Account);
    EXPECT_EQ(store().statusMessage(), "Welcome back, ana@example.com.");
    EXPECT_EQ(store().selectedSecretId(), 31);
    EXPECT_TRUE(store().session().isEmpty());
    ASSERT_EQ(store().activities().size(), 1);
    EXPECT_EQ(store().activities().front().title, "Signed in");
    // The bridge cannot be found here: the check fails silently.
    EXPECT_TRUE(store().bridgeCheck().isEmpty());
    EXPECT_TRUE(store().errorMessage().isEmpty());
}

TEST_F(StoreTest, SuccessfulBridgeCheckIsKept)
{
    writeFile("check.mjs", "process.stdout.write(JSON.stringify({ok: true, result: "
                           "{sdkVersion: '9.9.9', blackboxUrl: 'https://svc', node: process.version}}));\n");
    m_bridgeEnvironment.insert("KORVO_BRIDGE_SCRIPT", workPath("check.mjs"));
    makeStore();
    saveIdentity("ana@example.com");
    await(store().bootstrapTask());
    EXPECT_EQ(store().bridgeCheck().value("sdkVersion").toString(), "9.9.9");
    EXPECT_EQ(store().bridgeCheck().value("blackboxUrl").toString(), "https://svc");
}

TEST_F(StoreTest, UndecodableOrUnreachableIdentityMeansLocalModeAndIsNotDeleted)
{
    KeychainStore(m_keychain).save(AccountIdentity{"a@b.c", "p", "k", {}, {}});
    ASSERT_EQ(m_keychain->inner->replace({keychainService, identityAccount}, "{not json", KeychainContent::text), 0);
    await(store().bootstrapTask());
    EXPECT_EQ(store().accessMode(), Access::Local);
    EXPECT_EQ(store().route(), Route::Main);
    EXPECT_EQ(m_keychain->inner->copyMatching({keychainService, identityAccount}).data, "{not json");

    m_keychain->failReads = -25291;   // no keychain reachable
    makeStore();
    await(store().bootstrapTask());
    EXPECT_EQ(store().accessMode(), Access::Local);
}

TEST_F(StoreTest, StartRoutesInstallFixedStatesAndIgnoreOtherSpellings)
{
    saveIdentity("ana@example.com");

    makeStore({{"KORVO_START_ROUTE", "createAccount"}});
    await(store().bootstrapTask());
    EXPECT_EQ(store().route(), Route::CreateAccount);
    EXPECT_FALSE(store().hasIdentity());
    EXPECT_EQ(store().statusMessage(), "UI input test mode.");

    makeStore({{"KORVO_START_ROUTE", "login"}});
    await(store().bootstrapTask());
    EXPECT_EQ(store().route(), Route::Login);
    EXPECT_FALSE(store().hasIdentity());
    EXPECT_EQ(store().statusMessage(), "Choose offline protection or connect an account.");

    makeStore({{"KORVO_START_ROUTE", "local"}});
    await(store().bootstrapTask());
    EXPECT_EQ(store().accessMode(), Access::Local);
    EXPECT_EQ(store().route(), Route::Main);

    // Another case is not recognised: the keychain decides.
    makeStore({{"KORVO_START_ROUTE", "Main"}});
    await(store().bootstrapTask());
    EXPECT_EQ(store().route(), Route::Login);
    EXPECT_EQ(store().statusMessage(), "Welcome back, ana@example.com.");

    // Only one registration variable: no probe, the start route applies.
    makeStore({{"KORVO_REGISTRATION_PROBE_EMAIL", "p@q.r"}, {"KORVO_START_ROUTE", "local"}});
    await(store().bootstrapTask());
    EXPECT_EQ(store().accessMode(), Access::Local);
}

TEST_F(StoreTest, MainStartStateShowsTheFullAccountLayoutWithoutTouchingTheKeychain)
{
    makeStore({{"KORVO_START_ROUTE", "main"}});
    await(store().bootstrapTask());
    EXPECT_EQ(store().route(), Route::Main);
    EXPECT_EQ(store().accessMode(), Access::Account);
    EXPECT_EQ(store().selectedSecretId(), 25);
    ASSERT_EQ(store().secrets().size(), 1);
    EXPECT_EQ(store().secrets().front().toMap().value("secretId").toLongLong(), 25);
    EXPECT_TRUE(store().session().value("sessionAddress").toString().contains(QRegularExpression("^0x[0-9a-f]{40}$")));
    const QVariantMap encryption = store().dataConsumption().value("encryption").toMap();
    EXPECT_EQ(encryption.value("remaining").toDouble(), 3221225472.0 - 1048576.0);
    EXPECT_EQ(store().dataConsumption().value("periodEnd").toDateTime(),
              store().dataConsumption().value("periodStart").toDateTime().addMonths(1));
    ASSERT_EQ(store().activities().size(), 3);
    EXPECT_EQ(store().activities()[2].title, "Account ready");
    EXPECT_TRUE(store().activeSecretIsValid());
    EXPECT_EQ(store().activeSecretLabel(), "Korvo #25");
    EXPECT_TRUE(store().statusMessage().startsWith("Saved to "));
    // The samples are not saved, and choosing a Korvo is not written to the keychain.
    EXPECT_FALSE(QFile::exists(store().activityHistoryURL(Access::Account)));
    store().setSelectedSecret(40);
    EXPECT_EQ(store().selectedSecretId(), 40);
    EXPECT_EQ(m_keychain->inner->copyMatching({keychainService, identityAccount}).status, -25300);
}

TEST_F(StoreTest, MainStartStateKeepsAnExistingHistoryAndHonoursTheRecipientTarget)
{
    writeHistory(store().activityHistoryURL(Access::Account), {ActivityItem::make("Signed in", "ana@example.com")});
    makeStore({{"KORVO_START_ROUTE", "main"}, {"KORVO_START_TARGET", "recipient"}});
    await(store().bootstrapTask());
    ASSERT_EQ(store().activities().size(), 1);
    EXPECT_EQ(store().encryptionTarget(), KorvoStore::EncryptionTarget::Recipient);
    EXPECT_EQ(store().recipientSecretIdText(), "42");

    makeStore({{"KORVO_START_ROUTE", "main"}, {"KORVO_START_TARGET", "recipient"}, {"KORVO_RECIPIENT_SECRET_ID", "7"}});
    await(store().bootstrapTask());
    EXPECT_EQ(store().recipientSecretIdText(), "7");
    EXPECT_EQ(store().activeSecretLabel(), "Korvo #7");
    EXPECT_FALSE(store().activeSecretIsValid());   // not looked up yet
}

TEST_F(StoreTest, InterfaceCheckStatesLayOverEveryStartState)
{
    // Selection: order kept, empty parts skipped, an existing folder gains its "/" once.
    const QString folder = QFileInfo(writeFile("album/a.jpg", "x")).absolutePath();
    const QString file = writeFile("notes.txt", "x");
    makeStore({{"KORVO_START_ROUTE", "main"},
               {"KORVO_START_SELECTION", "::" + file + ":" + folder + "::" + folder + "/:/no/such/file.txt:"},
               {"KORVO_START_BUSY", "Locking file..."}});
    await(store().bootstrapTask());
    EXPECT_EQ(store().selectedURLs(), QStringList({file, folder + "/", folder + "/", "/no/such/file.txt"}));
    EXPECT_TRUE(store().isBusy());
    EXPECT_EQ(store().statusMessage(), "Locking file...");   // replaces the demonstration line
    EXPECT_TRUE(store().errorMessage().isEmpty());

    // Local mode clears the selection and the error while it is entered: the states come after.
    makeStore({{"KORVO_START_ROUTE", "local"}, {"KORVO_START_SELECTION", file},
               {"KORVO_START_ERROR", "The selected file could not be read."}});
    await(store().bootstrapTask());
    EXPECT_EQ(store().selectedURLs(), QStringList({file}));
    EXPECT_EQ(store().errorMessage(), "The selected file could not be read.");
    EXPECT_FALSE(store().isBusy());
    EXPECT_EQ(store().statusMessage(), offlineReady);

    // Without a start route (empty keychain) they apply too; an empty selection selects nothing.
    makeStore({{"KORVO_START_SELECTION", ""}, {"KORVO_START_ERROR", "Stop."}});
    await(store().bootstrapTask());
    EXPECT_EQ(store().accessMode(), Access::Local);
    EXPECT_TRUE(store().selectedURLs().isEmpty());
    EXPECT_EQ(store().errorMessage(), "Stop.");
}

TEST_F(StoreTest, LeavingLocalModeGreetsByIdentityOrAsksToSignIn)
{
    await(store().bootstrapTask());
    store().setSelectedURLs({"/tmp/a"});
    store().setErrorMessage("Earlier failure.");
    store().leaveLocalMode();
    EXPECT_EQ(store().route(), Route::Login);
    EXPECT_EQ(store().accessMode(), Access::Account);
    EXPECT_EQ(store().statusMessage(), "Sign in or create an account.");
    EXPECT_TRUE(store().selectedURLs().isEmpty());
    EXPECT_EQ(store().errorMessage(), "Earlier failure.");   // left as it was

    store().enterLocalMode();
    EXPECT_TRUE(store().errorMessage().isEmpty());

    saveIdentity("ana@example.com");
    makeStore();
    await(store().bootstrapTask());
    store().enterLocalMode();
    store().leaveLocalMode();
    EXPECT_EQ(store().statusMessage(), "Welcome back, ana@example.com.");
}

TEST_F(StoreTest, SignOutKeepsOrRemovesTheIdentity)
{
    saveIdentity("ana@example.com", 25);
    await(store().bootstrapTask());
    await(store().signOutTask(false));
    EXPECT_TRUE(store().hasIdentity());
    EXPECT_EQ(store().statusMessage(), "Signed out.");
    EXPECT_FALSE(store().selectedSecretId().has_value());
    EXPECT_EQ(KeychainStore(m_keychain).load().email, "ana@example.com");

    // A refused deletion keeps the identity and says so.
    m_keychain->failWrites = -25293;
    await(store().signOutTask(true));
    EXPECT_TRUE(store().hasIdentity());
    EXPECT_EQ(store().errorMessage(), "This computer could not remove its saved sign-in data.");

    m_keychain->failWrites = 0;
    writeHistory(store().activityHistoryURL(Access::Account), {ActivityItem::make("Signed in", "ana@example.com")});
    writeHistory(store().activityHistoryURL(Access::Local), {ActivityItem::make("Locked on this Mac", "a -> b")});
    await(store().signOutTask(true));
    EXPECT_FALSE(store().hasIdentity());
    EXPECT_EQ(store().statusMessage(), "This computer was removed from your account.");
    EXPECT_TRUE(store().activities().isEmpty());
    EXPECT_FALSE(QFile::exists(store().activityHistoryURL(Access::Account)));
    EXPECT_TRUE(QFile::exists(store().activityHistoryURL(Access::Local)));
    EXPECT_THROW(KeychainStore(m_keychain).load(), KeychainStoreError);
    EXPECT_EQ(store().route(), Route::Login);
}

TEST_F(StoreTest, RecipientNumberParsingAndComputedWorkbenchValues)
{
    makeStore({{"KORVO_START_ROUTE", "main"}});
    await(store().bootstrapTask());
    QSignalSpy labelChanges(&store(), &KorvoStore::activeSecretChanged);
    store().setEncryptionTarget(KorvoStore::EncryptionTarget::Recipient);
    const struct {
        const char* text;
        const char* label;
    } cases[] = {{"0042", "Korvo #42"}, {" +7 ", "Korvo #7"}, {"", "Choose a Korvo"}, {"0", "Choose a Korvo"},
                 {"-5", "Choose a Korvo"}, {"1 2", "Choose a Korvo"}, {"+", "Choose a Korvo"},
                 {"9223372036854775807", "Korvo #9223372036854775807"}, {"9223372036854775808", "Choose a Korvo"},
                 {"\u0663", "Choose a Korvo"}};
    for (const auto& c : cases) {
        store().setRecipientSecretIdText(QString::fromUtf8(c.text));
        EXPECT_EQ(store().activeSecretLabel(), QString::fromUtf8(c.label)) << c.text;
    }
    EXPECT_GE(labelChanges.count(), 2);
    store().setRecipientSecretIdText("42");
    EXPECT_EQ(store().recipientLookupRequest(), "recipient|42");
    store().setEncryptionTarget(KorvoStore::EncryptionTarget::Own);
    EXPECT_EQ(store().recipientLookupRequest(), "own|42");
    store().setMode(KorvoStore::WorkMode::Decrypt);
    store().setEncryptionTarget(KorvoStore::EncryptionTarget::Recipient);
    EXPECT_EQ(store().activeSecretLabel(), "Korvo #25");   // opening always uses the own Korvo
}
