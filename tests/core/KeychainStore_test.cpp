// The keychain store's behaviour, run against the in-memory backend and, inside the headless
// test session, against the real Secret Service: both must behave the same way.
#include "core/KeychainStore.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const KeychainItemQuery identityItem{"com.korvo.security.macos", "web2.identity"};
const KeychainItemQuery keyItem{"com.korvo.security.macos", "local.protection.key"};

AccountIdentity sampleIdentity()
{
    return {"ada@example.com", "prn_1234", "9f86d081884c7d659a2feaa0c55ad015", std::nullopt, std::nullopt};
}

template <typename Call>
KeychainStoreError caught(Call&& call)
{
    try {
        call();
    } catch (const KeychainStoreError& error) {
        return error;
    }
    ADD_FAILURE() << "no KeychainStoreError was thrown";
    return KeychainStoreError::unexpectedStatus(12345);
}

// ---- The identity's JSON form ---------------------------------------------------------------

TEST(AccountIdentityJson, WritesCompactObjectWithOptionalKeysOnlyWhenSet)
{
    EXPECT_EQ(sampleIdentity().toJson(),
              R"({"email":"ada@example.com","principalId":"prn_1234","ed25519PrivateKeyHex":"9f86d081884c7d659a2feaa0c55ad015"})");

    AccountIdentity full = sampleIdentity();
    full.selectedSecretId = 9007199254740993;   // above 2^53: must stay an exact integer
    full.deviceKeyConfirmationPending = false;  // false is a value, not "absent"
    EXPECT_EQ(full.toJson(),
              R"({"email":"ada@example.com","principalId":"prn_1234","ed25519PrivateKeyHex":"9f86d081884c7d659a2feaa0c55ad015",)"
              R"("selectedSecretId":9007199254740993,"deviceKeyConfirmationPending":false})");
    EXPECT_EQ(AccountIdentity::fromJson(full.toJson()), full);

    AccountIdentity unicode = sampleIdentity();
    unicode.email = QString::fromUtf8("zoë@exämple.com \"quoted\"");
    EXPECT_EQ(AccountIdentity::fromJson(unicode.toJson()), unicode);
}

TEST(AccountIdentityJson, ReaderAcceptsNullMissingAndUnknownKeysInAnyOrder)
{
    const AccountIdentity fromNulls = AccountIdentity::fromJson(
        R"({"selectedSecretId":null,"deviceKeyConfirmationPending":null,"ed25519PrivateKeyHex":"9f86d081884c7d659a2feaa0c55ad015",)"
        R"("principalId":"prn_1234","email":"ada@example.com","futureField":{"x":[1,2]}})");
    EXPECT_EQ(fromNulls, sampleIdentity());

    const AccountIdentity withValues = AccountIdentity::fromJson(
        R"({"email":"e","principalId":"p","ed25519PrivateKeyHex":"k","selectedSecretId":-3,"deviceKeyConfirmationPending":true})");
    EXPECT_EQ(withValues.selectedSecretId, -3);
    EXPECT_EQ(withValues.deviceKeyConfirmationPending, true);
}

TEST(AccountIdentityJson, RejectsEverythingThatIsNotAnIdentity)
{
    const char* const invalid[] = {
        "",
        "not json",
        "[]",
        "null",
        R"({"email":"e","ed25519PrivateKeyHex":"k"})",                                   // no principalId
        R"({"email":"e","principalId":7,"ed25519PrivateKeyHex":"k"})",                   // wrong type
        R"({"email":"e","principalId":null,"ed25519PrivateKeyHex":"k"})",                // required, not optional
        R"({"email":"e","principalId":"p","ed25519PrivateKeyHex":"k","selectedSecretId":"4"})",
        R"({"email":"e","principalId":"p","ed25519PrivateKeyHex":"k","selectedSecretId":4.5})",
        R"({"email":"e","principalId":"p","ed25519PrivateKeyHex":"k","selectedSecretId":18446744073709551615})",
        R"({"email":"e","principalId":"p","ed25519PrivateKeyHex":"k","deviceKeyConfirmationPending":1})",
        R"({"email":"e","principalId":"p","ed25519PrivateKeyHex":"k"} trailing)",
    };
    for (const char* json : invalid) {
        const KeychainStoreError error = caught([&] { AccountIdentity::fromJson(QByteArray(json)); });
        EXPECT_EQ(error.kind(), KeychainStoreError::Kind::decodeFailed) << json;
        EXPECT_EQ(error.message(), "Could not decode account identity.") << json;
    }
}

TEST(KeychainStoreErrorText, StatusInSignedDecimal)
{
    EXPECT_EQ(KeychainStoreError::unexpectedStatus(-25299).message(), "Keychain returned status -25299.");
    EXPECT_EQ(KeychainStoreError::unexpectedStatus(0).message(), "Keychain returned status 0.");
    EXPECT_EQ(KeychainStoreError::unexpectedStatus(-25299).status(), -25299);
    EXPECT_EQ(KeychainStoreError::encodeFailed().message(), "Could not encode account identity.");
}

// ---- The store over each backend --------------------------------------------------------------

struct BackendCase {
    const char* name;
    std::function<std::shared_ptr<KeychainBackend>()> make;
    bool needsSession;
};

void PrintTo(const BackendCase& backendCase, std::ostream* out)
{
    *out << backendCase.name;
}

class KeychainStoreTest : public testing::TestWithParam<BackendCase> {
protected:
    void SetUp() override
    {
        // The real keychain is only used inside the private test session, never the user's own.
        if (GetParam().needsSession && qEnvironmentVariable("KORVO_IN_SESSION") != "1")
            GTEST_SKIP() << "run under scripts/headless-session.sh to use a Secret Service";
        backend = GetParam().make();
        backend->remove(identityItem);
        backend->remove(keyItem);
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

    AccountIdentity first = sampleIdentity();
    store.save(first);
    EXPECT_EQ(store.load(), first);
    EXPECT_EQ(backend->copyMatching(identityItem).data, first.toJson());

    AccountIdentity second = first;
    second.selectedSecretId = 17;
    second.deviceKeyConfirmationPending = true;
    store.save(second);
    EXPECT_EQ(store.load(), second);

    EXPECT_TRUE(store.deleteIdentity());
    EXPECT_EQ(caught([&] { store.load(); }).kind(), KeychainStoreError::Kind::itemNotFound);
}

TEST_P(KeychainStoreTest, UndecodableStoredIdentity)
{
    const KeychainStore store(backend);
    for (const char* data : {"{not json", R"({"email":"e","ed25519PrivateKeyHex":"k"})"}) {
        ASSERT_EQ(backend->replace(identityItem, data, KeychainContent::text), KeychainStatus::success);
        const KeychainStoreError error = caught([&] { store.load(); });
        EXPECT_EQ(error.kind(), KeychainStoreError::Kind::decodeFailed) << data;
        EXPECT_EQ(backend->copyMatching(identityItem).data, QByteArray(data)) << "a failed load changes nothing";
    }
}

TEST_P(KeychainStoreTest, LocalKeyIsCreatedOnceAndSurvivesIdentityRemoval)
{
    const KeychainStore store(backend);
    const QByteArray key = store.loadOrCreateLocalProtectionKey();
    ASSERT_EQ(key.size(), 32);
    EXPECT_NE(key, QByteArray(32, '\0'));

    store.save(sampleIdentity());
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

// Answers every call with one status and records what was asked of it.
class FailingBackend final : public KeychainBackend {
public:
    explicit FailingBackend(int status) : m_status(status) {}
    KeychainReadResult copyMatching(const KeychainItemQuery&) override { return {m_status, {}}; }
    int add(const KeychainItemQuery&, const QByteArray&, KeychainContent) override { ++writes; return m_status; }
    int replace(const KeychainItemQuery&, const QByteArray&, KeychainContent) override { ++writes; return m_status; }
    int remove(const KeychainItemQuery&) override { return m_status; }
    int writes = 0;

private:
    int m_status;
};

TEST(KeychainStoreFailures, StatusesReachTheCallerAsSentences)
{
    for (int status : {KeychainStatus::notAvailable, KeychainStatus::authFailed, KeychainStatus::userCanceled}) {
        const auto backend = std::make_shared<FailingBackend>(status);
        const KeychainStore store(backend);
        const QString sentence = QStringLiteral("Keychain returned status %1.").arg(status);
        EXPECT_EQ(caught([&] { store.load(); }).message(), sentence);
        EXPECT_EQ(caught([&] { store.save(sampleIdentity()); }).status(), status);
        EXPECT_EQ(caught([&] { store.loadOrCreateLocalProtectionKey(); }).status(), status);
        EXPECT_EQ(backend->writes, 1) << "an unreadable key store must not get a new key";
        EXPECT_FALSE(store.deleteIdentity());
    }
}

TEST(KeychainStoreFailures, LosingTheCreationRaceReportsTheDuplicate)
{
    // The key appears between this caller's read and its write.
    class RacingBackend final : public KeychainBackend {
    public:
        KeychainReadResult copyMatching(const KeychainItemQuery&) override { return {KeychainStatus::itemNotFound, {}}; }
        int add(const KeychainItemQuery&, const QByteArray&, KeychainContent) override { return KeychainStatus::duplicateItem; }
        int replace(const KeychainItemQuery&, const QByteArray&, KeychainContent) override { return 0; }
        int remove(const KeychainItemQuery&) override { return 0; }
    };
    const KeychainStore store(std::make_shared<RacingBackend>());
    EXPECT_EQ(caught([&] { store.loadOrCreateLocalProtectionKey(); }).message(), "Keychain returned status -25299.");
}

} // namespace
