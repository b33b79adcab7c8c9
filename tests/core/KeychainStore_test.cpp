// The keychain store's behaviour, run against the in-memory backend and, inside the headless
// test session, against the real Secret Service: both must behave the same way.
#include "core/KeychainStore.h"
#include "core/keychain/KeychainCreationLock.h"
#include "fixtures/TestFiles.h"

#include <QDir>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace {

const KeychainItemQuery identityItem{"com.korvo.security.macos", "web2.identity"};
const KeychainItemQuery keyItem{"com.korvo.security.macos", "local.protection.key"};
const AccountIdentity sample{"ada@example.com", "prn_1234", "9f86d081884c7d659a2feaa0c55ad015", std::nullopt, std::nullopt};

template <typename Call>
KeychainStoreError caught(Call&& call)
{
    return testfiles::thrown<KeychainStoreError>(call).value_or(KeychainStoreError::unexpectedStatus(12345));
}

// ---- The identity's JSON form ---------------------------------------------------------------

TEST(AccountIdentityJson, CompactObjectWithOptionalKeysOnlyWhenSetReadLeniently)
{
    const QByteArray base =
        R"({"email":"ada@example.com","principalId":"prn_1234","ed25519PrivateKeyHex":"9f86d081884c7d659a2feaa0c55ad015")";
    EXPECT_EQ(sample.toJson(), base + "}");
    AccountIdentity full = sample;
    full.selectedSecretId = 9007199254740993;   // above 2^53: must stay an exact integer
    full.deviceKeyConfirmationPending = false;  // false is a value, not "absent"
    EXPECT_EQ(full.toJson(), base + R"(,"selectedSecretId":9007199254740993,"deviceKeyConfirmationPending":false})");
    full.email = QString::fromUtf8("zoë@exämple.com \"quoted\"");
    EXPECT_EQ(AccountIdentity::fromJson(full.toJson()), full);

    // Null, missing and unknown keys in any order.
    EXPECT_EQ(AccountIdentity::fromJson(
                  R"({"selectedSecretId":null,"deviceKeyConfirmationPending":null,"ed25519PrivateKeyHex":"9f86d081884c7d659a2feaa0c55ad015",)"
                  R"("principalId":"prn_1234","email":"ada@example.com","futureField":{"x":[1,2]}})"),
              sample);
    const AccountIdentity withValues = AccountIdentity::fromJson(
        R"({"email":"e","principalId":"p","ed25519PrivateKeyHex":"k","selectedSecretId":-3,"deviceKeyConfirmationPending":true})");
    EXPECT_EQ(withValues.selectedSecretId, -3);
    EXPECT_EQ(withValues.deviceKeyConfirmationPending, true);
}

TEST(AccountIdentityJson, RejectsEverythingThatIsNotAnIdentity)
{
    const std::string ok = R"({"email":"e","principalId":"p","ed25519PrivateKeyHex":"k")";
    const std::string invalid[] = {
        "",
        "not json",
        "[]",
        "null",
        R"({"email":"e","ed25519PrivateKeyHex":"k"})",                    // no principalId
        R"({"email":"e","principalId":7,"ed25519PrivateKeyHex":"k"})",    // wrong type
        R"({"email":"e","principalId":null,"ed25519PrivateKeyHex":"k"})", // required, not optional
        ok + R"(,"selectedSecretId":"4"})",
        ok + R"(,"selectedSecretId":4.5})",
        ok + R"(,"selectedSecretId":18446744073709551615})",
        ok + R"(,"deviceKeyConfirmationPending":1})",
        ok + "} trailing",
    };
    for (const std::string& json : invalid) {
        const KeychainStoreError error = caught([&] { AccountIdentity::fromJson(QByteArray::fromStdString(json)); });
        EXPECT_EQ(error.kind(), KeychainStoreError::Kind::decodeFailed) << json;
        EXPECT_EQ(error.message(), "Could not decode account identity.") << json;
    }
}

// ---- The store over each backend --------------------------------------------------------------

struct BackendCase {
    const char* name;
    std::function<std::shared_ptr<KeychainBackend>()> make;
    bool needsSession;
};

class KeychainStoreTest : public testing::TestWithParam<BackendCase> {
protected:
    void SetUp() override
    {
        // The real keychain is only used inside the private test session, never the user's own.
        if (GetParam().needsSession && qEnvironmentVariable("KORVO_IN_SESSION") != "1")
            GTEST_SKIP() << "run under scripts/headless-session.sh to use a Secret Service";
        backend = GetParam().make();
        TearDown();
    }
    void TearDown() override
    {
        if (backend) {
            backend->remove(identityItem);
            backend->remove(keyItem);
        }
    }

    std::shared_ptr<KeychainBackend> backend;
};

TEST_P(KeychainStoreTest, IdentityLifecycle)
{
    const KeychainStore store(backend);
    const KeychainStoreError missing = caught([&] { store.load(); });
    EXPECT_EQ(missing.kind(), KeychainStoreError::Kind::itemNotFound);
    EXPECT_EQ(missing.message(), "No saved account identity was found.");
    EXPECT_TRUE(store.deleteIdentity()) << "deleting an absent identity counts as done";

    store.save(sample);
    EXPECT_EQ(store.load(), sample);
    EXPECT_EQ(backend->copyMatching(identityItem).data, sample.toJson());
    AccountIdentity second = sample;
    second.selectedSecretId = 17;
    second.deviceKeyConfirmationPending = true;
    store.save(second);
    EXPECT_EQ(store.load(), second);

    EXPECT_TRUE(store.deleteIdentity());
    EXPECT_EQ(caught([&] { store.load(); }).kind(), KeychainStoreError::Kind::itemNotFound);

    // Undecodable stored identities are reported and left as they are.
    for (const char* data : {"{not json", R"({"email":"e","ed25519PrivateKeyHex":"k"})"}) {
        ASSERT_EQ(backend->replace(identityItem, data, KeychainContent::text), KeychainStatus::success);
        EXPECT_EQ(caught([&] { store.load(); }).kind(), KeychainStoreError::Kind::decodeFailed) << data;
        EXPECT_EQ(backend->copyMatching(identityItem).data, QByteArray(data)) << "a failed load changes nothing";
    }
}

TEST_P(KeychainStoreTest, LocalKeyIsCreatedOnceAndSurvivesIdentityRemoval)
{
    const KeychainStore store(backend);
    const QByteArray key = store.loadOrCreateLocalProtectionKey();
    ASSERT_EQ(key.size(), 32);
    EXPECT_NE(key, QByteArray(32, '\0'));

    store.save(sample);
    EXPECT_TRUE(store.deleteIdentity());
    EXPECT_EQ(store.loadOrCreateLocalProtectionKey(), key);
    // Another store (over a new connection where the keychain is real) sees the same key.
    const auto other = GetParam().needsSession ? GetParam().make() : backend;
    EXPECT_EQ(KeychainStore(other).loadOrCreateLocalProtectionKey(), key);
}

TEST_P(KeychainStoreTest, WrongSizedKeyIsReportedAndLeftAlone)
{
    const KeychainStore store(backend);
    for (int size : {0, 16, 31, 33}) {
        const QByteArray stored(size, '\x5a');
        backend->remove(keyItem);
        ASSERT_EQ(backend->add(keyItem, stored, KeychainContent::binary), KeychainStatus::success);
        const KeychainStoreError error = caught([&] { store.loadOrCreateLocalProtectionKey(); });
        EXPECT_EQ(error.kind(), KeychainStoreError::Kind::unexpectedStatus) << size;
        EXPECT_EQ(error.message(), "Keychain returned status 0.") << size;
        EXPECT_EQ(backend->copyMatching(keyItem).data, stored) << "never repaired or replaced, size " << size;
    }
}

TEST_P(KeychainStoreTest, AddNeverOverwrites)
{
    ASSERT_EQ(backend->add(keyItem, "first", KeychainContent::binary), KeychainStatus::success);
    EXPECT_EQ(backend->add(keyItem, "second", KeychainContent::binary), KeychainStatus::duplicateItem);
    EXPECT_EQ(backend->copyMatching(keyItem).data, "first");
    EXPECT_EQ(backend->remove(keyItem), KeychainStatus::success);
    EXPECT_EQ(backend->remove(keyItem), KeychainStatus::itemNotFound);
    EXPECT_EQ(backend->copyMatching(keyItem).status, KeychainStatus::itemNotFound);
}

INSTANTIATE_TEST_SUITE_P(Backends, KeychainStoreTest,
                         testing::Values(BackendCase{"InMemory", makeInMemoryKeychainBackend, false},
                                         BackendCase{"SecretService", makeSecretServiceKeychainBackend, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Failures reported by the platform store --------------------------------------------------

// Answers reads with one status and every other call with another, counting the writes.
class ScriptedBackend final : public KeychainBackend {
public:
    ScriptedBackend(int readStatus, int writeStatus) : m_read(readStatus), m_write(writeStatus) {}
    KeychainReadResult copyMatching(const KeychainItemQuery&) override { return {m_read, {}}; }
    int add(const KeychainItemQuery&, const QByteArray&, KeychainContent) override { return ++writes, m_write; }
    int replace(const KeychainItemQuery&, const QByteArray&, KeychainContent) override { return ++writes, m_write; }
    int remove(const KeychainItemQuery&) override { return m_write; }
    int writes = 0;

private:
    int m_read, m_write;
};

TEST(KeychainStoreFailures, StatusesReachTheCallerAsSentences)
{
    // Off macOS the statuses a person can act on read as a sentence naming cause and remedy.
    const struct {
        int status;
        const char* says;
    } cases[] = {
        {KeychainStatus::notAvailable, "No keyring service is running"},
        {KeychainStatus::authFailed, "Your keyring is locked or refused access"},
        {KeychainStatus::userCanceled, "unlock prompt was dismissed"},
        {-25308, "Keychain returned status -25308."},
    };
    for (const auto& [status, says] : cases) {
        const auto backend = std::make_shared<ScriptedBackend>(status, status);
        const KeychainStore store(backend);
        EXPECT_THAT(caught([&] { store.load(); }).message().toStdString(), ::testing::HasSubstr(says));
        EXPECT_EQ(caught([&] { store.save(sample); }).status(), status);
        EXPECT_EQ(caught([&] { store.loadOrCreateLocalProtectionKey(); }).status(), status);
        EXPECT_EQ(backend->writes, 1) << "an unreadable key store must not get a new key";
        EXPECT_FALSE(store.deleteIdentity());
    }
}

// Another caller creates the key between this caller's read and its write.
class RacedBackend final : public KeychainBackend {
public:
    KeychainReadResult copyMatching(const KeychainItemQuery& query) override { return m_inner->copyMatching(query); }
    int add(const KeychainItemQuery& query, const QByteArray& data, KeychainContent content) override
    {
        m_inner->add(query, winner, content);
        return m_inner->add(query, data, content);
    }
    int replace(const KeychainItemQuery& q, const QByteArray& d, KeychainContent c) override { return m_inner->replace(q, d, c); }
    int remove(const KeychainItemQuery& query) override { return m_inner->remove(query); }
    const QByteArray winner = QByteArray(32, 'w');

private:
    std::shared_ptr<KeychainBackend> m_inner = makeInMemoryKeychainBackend();
};

TEST(KeychainStoreFailures, LosingTheCreationRaceReturnsTheWinnersKey)
{
    const auto backend = std::make_shared<RacedBackend>();
    EXPECT_EQ(KeychainStore(backend).loadOrCreateLocalProtectionKey(), backend->winner);
}

} // namespace

// Without a runtime folder, a lock file at a fixed name in the shared temporary folder (another
// user's, which nobody here may remove) must not block key creation.
TEST(KeychainCreationLockPlace, WithoutARuntimeFolderTheLockIsPerUser)
{
    QTemporaryDir shared, home;
    ASSERT_TRUE(QDir(shared.path()).mkdir("korvo-keychain.lock"));
    const QList<QByteArray> names = {"TMPDIR", "HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"};
    QList<QByteArray> saved;
    for (const QByteArray& name : names)
        saved.append(qgetenv(name.constData()));
    qputenv("TMPDIR", shared.path().toUtf8());
    qputenv("HOME", home.path().toUtf8());
    qunsetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_CACHE_HOME");
    EXPECT_TRUE(KeychainCreationLock().isLocked());
    for (qsizetype i = 0; i < names.size(); ++i)
        saved[i].isNull() ? qunsetenv(names[i].constData()) : qputenv(names[i].constData(), saved[i]);
}
