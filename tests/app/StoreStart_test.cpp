// The launch decision, the start states and the switches between access modes.
#include "support/StoreFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

using Route = KorvoStore::AppRoute;
using Access = KorvoStore::AppAccessMode;

namespace {
QByteArray history(const char* title, const char* detail) { return ActivityHistory::encode({ActivityItem::make(title, detail)}); }
} // namespace

TEST_F(StoreTest, FirstLaunchOrAnUndecodableIdentityOpensLocalModeWithLocalHistory)
{
    writeFile(store().activityHistoryURL(Access::Local), history("Locked on this Mac", "a -> b"));
    writeFile(store().activityHistoryURL(Access::Account), history("Signed in", "x@y.z"));
    // The window waits for the decision while the keyring is read, and it ends on the final route.
    QList<std::pair<bool, Route>> deciding;
    QObject::connect(&store(), &KorvoStore::isDecidingLaunchChanged, &store(),
                     [this, &deciding] { deciding.append({store().isDecidingLaunch(), store().route()}); });
    await(store().bootstrapTask());
    EXPECT_EQ(deciding, (QList<std::pair<bool, Route>>{{true, Route::Login}, {false, Route::Main}}));
    EXPECT_EQ(std::pair(store().route(), store().accessMode()), std::pair(Route::Main, Access::Local));
    EXPECT_EQ(activityLines(), QStringList{"Locked on this Mac: a -> b"});
    EXPECT_FALSE(store().hasIdentity());

    // So does an identity that cannot be decoded, which is not deleted (an unreachable keychain
    // at launch is the store's keyring-trouble test).
    KeychainStore(m_keychain).save(AccountIdentity{"a@b.c", "p", "k", {}, {}});
    const KeychainItemQuery identity{KeychainStore::service, KeychainStore::identityAccount};
    ASSERT_EQ(m_keychain->inner->replace(identity, "{not json", KeychainContent::text), 0);
    makeStore();
    await(store().bootstrapTask());
    EXPECT_EQ(std::pair(store().route(), store().accessMode()), std::pair(Route::Main, Access::Local));
    EXPECT_EQ(m_keychain->inner->copyMatching(identity).data, "{not json");
}

TEST_F(StoreTest, SavedIdentityLandsOnSignInGreetedByEmailWithoutSession)
{
    saveIdentity("ana@example.com", 31);
    writeFile(store().activityHistoryURL(Access::Account), history("Signed in", "ana@example.com"));
    await(store().bootstrapTask());
    EXPECT_EQ(std::pair(store().route(), store().accessMode()), std::pair(Route::Login, Access::Account));
    EXPECT_EQ(store().statusMessage(), "Welcome back, ana@example.com.");
    EXPECT_EQ(store().selectedSecretId(), 31);
    EXPECT_TRUE(store().session().isEmpty());
    EXPECT_EQ(activityLines(), QStringList{"Signed in: ana@example.com"});
    // The bridge cannot be found here: the check fails silently.
    EXPECT_TRUE(store().bridgeCheck().isEmpty());
    EXPECT_TRUE(store().errorMessage().isEmpty());
}

// The start states are for screenshots: another spelling leaves the choice to the keychain, and
// the demonstration state never saves its sample history nor replaces a real one.
TEST_F(StoreTest, StartStatesNeedTheExactSpellingAndKeepTheRealHistory)
{
    saveIdentity("ana@example.com");
    makeStore({{"KORVO_START_ROUTE", "Main"}});
    await(store().bootstrapTask());
    EXPECT_EQ(store().route(), Route::Login);
    EXPECT_TRUE(store().hasIdentity());

    writeFile(store().activityHistoryURL(Access::Account), history("Signed in", "ana@example.com"));
    makeStore({{"KORVO_START_ROUTE", "main"}});
    await(store().bootstrapTask());
    EXPECT_EQ(store().route(), Route::Main);
    EXPECT_EQ(store().activities().size(), 1);   // the existing history, not the samples
    QFile::remove(store().activityHistoryURL(Access::Account));
    makeStore({{"KORVO_START_ROUTE", "main"}});
    await(store().bootstrapTask());
    EXPECT_FALSE(QFile::exists(store().activityHistoryURL(Access::Account)));   // samples are not saved
}

TEST_F(StoreTest, LeavingLocalModeGreetsByIdentityOrAsksToSignIn)
{
    await(store().bootstrapTask());
    store().setSelectedURLs({"/tmp/a"});
    store().setErrorMessage("Earlier failure.");
    store().leaveLocalMode();
    EXPECT_EQ(std::pair(store().route(), store().accessMode()), std::pair(Route::Login, Access::Account));
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
    writeFile(store().activityHistoryURL(Access::Account), history("Signed in", "ana@example.com"));
    writeFile(store().activityHistoryURL(Access::Local), history("Locked on this Mac", "a -> b"));
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
    const std::pair<const char*, const char*> cases[] = {
        {"0042", "Korvo #42"}, {" +7 ", "Korvo #7"}, {"0", "Choose a Korvo"}, {"1 2", "Choose a Korvo"},
        {"9223372036854775808", "Choose a Korvo"}, {"\u0663", "Choose a Korvo"}};
    for (const auto& [text, label] : cases) {
        store().setRecipientSecretIdText(QString::fromUtf8(text));
        EXPECT_EQ(store().activeSecretLabel(), QString::fromUtf8(label)) << text;
    }
    EXPECT_GE(labelChanges.count(), 2);
    store().setRecipientSecretIdText("42");
    store().setMode(KorvoStore::WorkMode::Decrypt);
    store().setEncryptionTarget(KorvoStore::EncryptionTarget::Recipient);
    EXPECT_EQ(store().activeSecretLabel(), "Korvo #25");   // opening always uses the own Korvo
}
