// Account operations of the store against a fixture bridge that answers from a table per test
// and logs every request: the order and fields of the commands, and what they leave behind.
#include "support/StoreFixture.h"

#include <QFile>

using json = nlohmann::json;
using Route = KorvoStore::AppRoute;
using Target = KorvoStore::EncryptionTarget;
using State = KorvoStore::RecipientKorvoState;
using Strings = std::vector<std::string>;

namespace {
const std::string savedKey(64, 'a');
const std::string newKey = "0x" + std::string(64, 'b');
const char* const restoreSent = "We sent you a security email. Confirm it, then sign in again.";

// ana's saved identity as this computer keeps it.
AccountIdentity ana(std::optional<qint64> selected = std::nullopt, const char* principal = "p1",
                    QString key = QString::fromStdString(savedKey))
{
    return {"ana@example.com", principal, key, selected, std::nullopt};
}

json ok(json result) { return {{"ok", true}, {"result", std::move(result)}}; }
json fail(const std::string& error) { return {{"ok", false}, {"error", error}}; }
json secret(int id, std::optional<int> syncing = std::nullopt)
{
    json s{{"secretId", id}, {"ownerPrincipalId", "p1"}, {"clusterId", 1}};
    if (syncing)
        s["isSyncing"] = *syncing;
    return s;
}
json listing(std::vector<json> secrets) { return ok({{"success", true}, {"secrets", secrets}}); }
json usage()
{
    const json stats{{"limit", 10}, {"used", 1}, {"remaining", 9}, {"count", 1}, {"requestLimit", 5},
                     {"rateLimit", 1}, {"limitGB", 1}, {"usedGB", 0.1}, {"remainingGB", 0.9}};
    return ok({{"userId", "p1"}, {"userType", "web2"}, {"planId", "free"}, {"cycleType", "monthly"},
               {"periodStart", 1767225600}, {"periodEnd", 1769904000}, {"encryption", stats}, {"decryption", stats}});
}

// A signed-in account's usual answers; tests override single commands.
json accountTable()
{
    return {{"verifyCredentials", ok({{"valid", true}, {"principalId", "p1"}})},
            {"createSession", ok({{"principalId", "p1"}, {"sessionAddress", "0x01"}, {"expiresAt", "2030-01-01T00:00:00Z"}})},
            {"listSecrets", listing({secret(25)})},
            {"createSecret", ok({{"success", true}, {"secretId", 31}, {"clusterId", 1}, {"status", "active"}})},
            {"generateKey", ok({{"privateKeyHex", newKey}, {"publicKeyHex", "pub"}})}, {"rotateKey", ok({{"success", true}})},
            {"register", ok({{"principalId", "p1"}})}, {"verifyEmail", ok({{"principalId", "p1"}, {"emailVerified", true}})},
            {"registerKey", ok({{"principalId", "p1"}, {"nodeRegistrationStatus", "complete"}})},
            {"dataConsumption", usage()},
            {"getSecretPublicKey", ok({{"chainId", 1}, {"secretId", 42}, {"publicKey", "pk42"}})},
            {"forgotPassword", ok(json::object())}, {"resendOtp", ok(json::object())},
            {"resetPassword", ok({{"message", "Password changed."}})}, {"requestAccountDeletion", ok(json::object())},
            {"confirmAccountDeletion", ok({{"success", true}})}};
}
} // namespace

class AccountTest : public StoreTest {
protected:
    // A store whose bridge answers from the account table with `changes` applied, after a
    // launch with the given saved identity (none: local mode).
    KorvoStore& start(const json& changes = json::object(), std::optional<AccountIdentity> saved = std::nullopt)
    {
        json table = accountTable();
        if (changes.is_object())
            table.update(changes);
        answer(table);
        if (saved)
            KeychainStore(m_keychain).save(*saved);
        makeStore();
        await(store().bootstrapTask());
        if (!saved)
            store().leaveLocalMode();
        return store();
    }
    // Signs in with the saved identity of `p1` and lets the background work settle.
    KorvoStore& signedIn(const json& changes = json::object())
    {
        start(changes, ana());
        EXPECT_TRUE(await(store().loginTask("ana@example.com", "password1"))) << store().errorMessage().toStdString();
        settle();
        return store();
    }
    // Waits for keychain writes and the background usage refresh to end.
    void settle()
    {
        await(store().keychainIdle());
        spin(10);
        spinUntil([&] { return !store().isDataConsumptionLoading(); });
    }
    AccountIdentity savedIdentity() const { return KeychainStore(m_keychain).load(); }
};

TEST_F(AccountTest, SignInReusesRestoresOrExplainsTheDeviceKey)
{
    AccountIdentity reusable = ana(7);
    reusable.email = " Ana@Example.com";
    reusable.deviceKeyConfirmationPending = true;
    const Strings restoring{"verifyCredentials", "generateKey", "rotateKey"};
    const struct {
        const char* name;
        json changes;
        std::optional<AccountIdentity> saved;
        const char* password;
        Strings commands;
        const char* error;
    } cases[] = {
        {"reused, pending flag cleared", {}, reusable, "password1",
         {"verifyCredentials", "createSession", "listSecrets", "dataConsumption"}, ""},
        {"other principal: restore", {}, ana({}, "p9"), "password1", restoring, restoreSent},
        {"malformed saved key: restore", {}, ana({}, "p1", QString(64, QLatin1Char('z'))), "password1", restoring, restoreSent},
        {"restore refused", {{"rotateKey", ok({{"success", false}})}}, std::nullopt, "password1", restoring,
         "This computer could not restore private access. Please try again."},
        {"session refused while pending", {{"createSession", fail("Device key not confirmed.")}}, reusable, "password1",
         {"verifyCredentials", "createSession"}, "Confirm the security email we sent you, then sign in again."},
        {"session refused otherwise", {{"createSession", fail("Session limit reached.")}}, ana(), "password1",
         {"verifyCredentials", "createSession"}, "Session limit reached."},
        {"key signed out elsewhere: restore",
         {{"createSession", fail("The Korvo service does not know this computer's device key (ed25519PrivateKeyHex).")}},
         ana(), "password1", {"verifyCredentials", "createSession", "generateKey", "rotateKey"}, restoreSent},
        {"wrong password", {{"verifyCredentials", ok({{"valid", false}, {"principalId", ""}})}}, std::nullopt,
         "password1", {"verifyCredentials"}, "That email or password is not correct."},
        {"seven characters", {}, std::nullopt, "passwor", {}, "Enter a valid email and password."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(workPath("bridge-requests.log"));
        m_keychain->inner = makeInMemoryKeychainBackend();
        start(c.changes, c.saved);
        const bool succeeded = await(store().loginTask("  ANA@example.com\n", c.password));
        settle();
        EXPECT_EQ(succeeded, QString(c.error).isEmpty());
        EXPECT_EQ(store().errorMessage(), c.error);
        EXPECT_EQ(commands(), c.commands);
        EXPECT_EQ(store().route(), succeeded ? Route::Main : Route::Login);
        // The pending flag is written as absent once the session is open.
        EXPECT_FALSE(succeeded && m_keychain->inner->copyMatching({KeychainStore::service, KeychainStore::identityAccount})
                                      .data.contains("deviceKeyConfirmationPending"));
    }
}

// The e-mail goes out normalised and the password as typed (the key's replacement is the sign-in
// flow's own test).
TEST_F(AccountTest, SignInSendsThePasswordAsTyped)
{
    start();
    EXPECT_FALSE(await(store().loginTask(" Ana@Example.COM ", " pass word ")));
    const auto sent = requests();
    EXPECT_EQ(sent[0], json({{"command", "verifyCredentials"}, {"blackboxUrl", "https://localhost:3010"},
                             {"email", "ana@example.com"}, {"password", " pass word "}}));
    EXPECT_EQ(sent[2], json({{"command", "rotateKey"}, {"blackboxUrl", "https://localhost:3010"},
                             {"email", "ana@example.com"}, {"password", " pass word "}, {"ed25519PrivateKeyHex", newKey}}));
}

// The way through (code, first Korvo, saved identity) is the desktop end-to-end run's; here a
// device registration that failed keeps the code screen and saves nothing.
TEST_F(AccountTest, RegistrationThatCannotFinish)
{
    start({{"registerKey", ok({{"principalId", "p1"}, {"nodeRegistrationStatus", "failed"}})}});
    ASSERT_TRUE(await(store().registerAccountTask("New@Example.com", "password1"))) << store().errorMessage().toStdString();
    EXPECT_EQ(store().routePrincipalId(), "p1");
    EXPECT_EQ(store().statusMessage(), "Code sent to New@Example.com.");
    EXPECT_FALSE(await(store().verifyOtpAndFinishTask("New@Example.com", "password1", "p1", "123456")));
    EXPECT_EQ(store().errorMessage(), "We could not finish setting up this computer. Try again.");
    EXPECT_THROW(savedIdentity(), KeychainStoreError);
    EXPECT_EQ(store().route(), Route::VerifyOtp);
    ASSERT_TRUE(await(store().resendOtpTask("New@Example.com")));
    EXPECT_EQ(store().statusMessage(), "Code sent again.");
}

TEST_F(AccountTest, KorvoSelection)
{
    const struct {
        const char* name;
        std::vector<json> listed;
        std::optional<qint64> selected;
        std::optional<qint64> expected;
        bool writes;
    } cases[] = {
        {"first not syncing", {secret(25, 1), secret(31), secret(40, 0)}, std::nullopt, 31, true},
        {"all syncing: first", {secret(7, 1), secret(9, 2)}, std::nullopt, 7, true},
        {"listed selection kept", {secret(25), secret(31)}, 31, 31, false},
        {"unlisted selection replaced", {secret(25)}, 99, 25, true},
        {"empty list keeps the selection", {}, 99, 99, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start({{"listSecrets", listing(c.listed)}}, ana(c.selected));
        m_keychain->failWrites = c.writes ? 0 : -25293;   // a write where none belongs fails the refresh
        EXPECT_TRUE(await(store().refreshSecretsTask())) << store().errorMessage().toStdString();
        await(store().keychainIdle());
        m_keychain->failWrites = 0;
        EXPECT_EQ(store().selectedSecretId(), c.expected);
        EXPECT_EQ(store().secrets().size(), qsizetype(c.listed.size()));
        EXPECT_EQ(savedIdentity().selectedSecretId, c.writes ? c.expected : c.selected);
    }

    // A refused write keeps the row selected and says why.
    m_keychain->failWrites = -25293;
    store().setSelectedSecret(40);
    await(store().keychainIdle());
    spin(20);
    EXPECT_EQ(store().selectedSecretId(), 40);
    EXPECT_FALSE(store().errorMessage().isEmpty());
    m_keychain->failWrites = 0;

    // Creating selects the new Korvo and records it.
    start({{"listSecrets", listing({secret(25), secret(31)})}}, ana(25));
    ASSERT_TRUE(await(store().createSecretTask()));
    await(store().keychainIdle());
    EXPECT_EQ(store().selectedSecretId(), 31);
    EXPECT_EQ(savedIdentity().selectedSecretId, 31);
    EXPECT_EQ(store().activities().front().detail, "Korvo #31");
}

TEST_F(AccountTest, RecipientLookUpIsDebouncedAndNeverOverwrittenByALateAnswer)
{
    signedIn({{"getSecretPublicKey", ok({{"chainId", 1}, {"secretId", 421}, {"publicKey", "pk421"}})}});
    store().setEncryptionTarget(Target::Recipient);
    for (const char* text : {"4", "42", "421"}) {
        store().setRecipientSecretIdText(text);
        spin(40);
    }
    EXPECT_EQ(store().recipientKorvoState(), State::Checking);
    spinUntil([&] { return store().recipientKorvoState() != State::Checking; });
    EXPECT_EQ(std::ranges::count(commands(), "getSecretPublicKey"), 1);
    EXPECT_EQ(requests().back()["secretId"], 421);
    EXPECT_EQ(std::tuple(store().recipientKorvoState(), store().recipientKorvoNumber(), store().activeSecretIsValid()),
              std::tuple(State::Ready, qint64(421), true));

    // An answer about another number is unavailable and not cached; switching to the own Korvo
    // mid-look-up ends idle, whatever arrives later.
    KorvoStore& other = signedIn({{"getSecretPublicKey", ok({{"chainId", 1}, {"secretId", 43}, {"publicKey", "pk43"}, {"delayMs", 300}})}});
    other.setEncryptionTarget(Target::Recipient);
    other.setRecipientSecretIdText("42");
    spinUntil([&] { return other.recipientKorvoState() != State::Checking; });
    EXPECT_EQ(other.recipientKorvoState(), State::Unavailable);
    EXPECT_FALSE(readFile(m_data.filePath("Korvo/public-keys.json")).contains("pk43"));
    other.setRecipientSecretIdText("43");
    spin(400);
    other.setEncryptionTarget(Target::Own);
    EXPECT_EQ(other.recipientKorvoState(), State::Idle);
    spin(500);
    EXPECT_EQ(other.recipientKorvoState(), State::Idle);
}

TEST_F(AccountTest, UsageRefreshNeverOverlapsAndKeepsOldFiguresOnFailure)
{
    signedIn({{"dataConsumption", json::array({usage(), {{"ok", false}, {"error", "down"}, {"delayMs", 300}}, usage()})}});
    ASSERT_TRUE(store().hasDataConsumption());
    store().refreshDataConsumption();
    store().refreshDataConsumption();
    EXPECT_TRUE(store().isDataConsumptionLoading());
    await(store().refreshDataConsumptionTask());   // dropped: one is running
    spinUntil([&] { return !store().isDataConsumptionLoading(); });
    EXPECT_EQ(std::ranges::count(commands(), "dataConsumption"), 2);
    EXPECT_TRUE(store().hasDataConsumption());
    EXPECT_EQ(store().dataConsumptionError(), "Usage is temporarily unavailable.");
    store().refreshDataConsumption();
    EXPECT_EQ(store().dataConsumptionError(), "");   // cleared as the fetch starts
    spin(500);

    // Figures that arrive after signing out are dropped; local mode fetches nothing.
    signedIn({{"dataConsumption", {{"ok", true}, {"result", usage()["result"]}, {"delayMs", 300}}}});
    store().refreshDataConsumption();   // pending when signing out
    await(store().signOutTask(false));
    spin(600);
    EXPECT_FALSE(store().hasDataConsumption());
    store().enterLocalMode();
    const auto before = commands().size();
    await(store().refreshDataConsumptionTask());
    EXPECT_EQ(commands().size(), before);
}

// The way through (code sent, new password, back to sign-in) is the desktop end-to-end run's;
// here a refused code keeps the reset screen with the service's sentence, and a reset of the
// saved account is signed with its key (the service then keeps that key).
TEST_F(AccountTest, PasswordRecoveryRefused)
{
    start({{"resetPassword", fail("That code has expired.")}}, ana());
    ASSERT_TRUE(await(store().forgotPasswordTask("Ana@example.com")));
    EXPECT_FALSE(await(store().resetPasswordTask(" Ana@example.com", "123456", "new password")));
    EXPECT_EQ(store().errorMessage(), "That code has expired.");
    EXPECT_EQ(store().route(), Route::ResetPassword);
    const json reset = requests().back();
    EXPECT_EQ(json({reset.value("principalId", ""), reset.value("ed25519PrivateKeyHex", "")}), json({"p1", savedKey}));
}

TEST_F(AccountTest, AccountDeletionInTwoSteps)
{
    signedIn({{"verifyCredentials", json::array({ok({{"valid", true}, {"principalId", "p1"}}),
                                                 ok({{"valid", true}, {"principalId", "p2"}}),
                                                 ok({{"valid", true}, {"principalId", "p1"}})})}});
    const auto before = commands().size();
    EXPECT_FALSE(await(store().requestAccountDeletionTask("passwor")));
    EXPECT_EQ(store().errorMessage(), "Enter your account password.");
    EXPECT_FALSE(await(store().requestAccountDeletionTask("password1")));   // verified for p2
    EXPECT_EQ(store().errorMessage(), "That password is not correct.");
    EXPECT_EQ(commands().size(), before + 1);
    EXPECT_TRUE(await(store().requestAccountDeletionTask("password1")));
    EXPECT_EQ(store().statusMessage(), "Confirmation code sent to ana@example.com.");

    // A malformed code never reaches the bridge (the code rules are tabled in the Format tests).
    EXPECT_FALSE(await(store().confirmAccountDeletionTask("12a456")));
    EXPECT_EQ(store().errorMessage(), "Enter the six-digit code from your email.");
    EXPECT_EQ(commands().back(), "requestAccountDeletion");

    // Full-width digits are numbers; the code goes out trimmed. A keychain that refuses the
    // clean-up still ends signed out, with both lines.
    m_keychain->failWrites = -25293;
    EXPECT_TRUE(await(store().confirmAccountDeletionTask(QString::fromUtf8(" \xef\xbc\x91\xef\xbc\x92\xef\xbc\x93" "456\n"))));
    EXPECT_EQ(requests().back()["otp"], "\xef\xbc\x91\xef\xbc\x92\xef\xbc\x93" "456");
    EXPECT_FALSE(store().hasIdentity());
    EXPECT_EQ(store().route(), Route::Login);
    EXPECT_EQ(store().statusMessage(), "Your account has been deleted.");
    EXPECT_EQ(store().errorMessage(), "Your account was deleted, but this computer could not remove all saved sign-in data.");

    m_keychain->failWrites = 0;
    signedIn();
    ASSERT_TRUE(QFile::exists(store().activityHistoryURL(KorvoStore::AppAccessMode::Account)));
    EXPECT_TRUE(await(store().confirmAccountDeletionTask("654321")));
    EXPECT_EQ(store().errorMessage(), "");
    EXPECT_THROW(savedIdentity(), KeychainStoreError);
    EXPECT_FALSE(QFile::exists(store().activityHistoryURL(KorvoStore::AppAccessMode::Account)));
}
