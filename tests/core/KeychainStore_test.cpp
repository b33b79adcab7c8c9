// The keychain store over the in-memory backend, and what the Secret Service adds (inside the
// headless session). Child processes re-run this program with KORVO_KEYCHAIN_CHILD naming one
// store call; they print "status=<n>" and "key=<hex>".
#include "core/KeychainStore.h"
#include "core/keychain/KeychainCreationLock.h"
#include "fixtures/TestFiles.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

const KeychainItemQuery identityItem{"com.korvo.security.macos", "web2.identity"};
const KeychainItemQuery keyItem{"com.korvo.security.macos", "local.protection.key"};
const AccountIdentity sample{"ada@example.com", "prn_1234", "9f86d081884c7d659a2feaa0c55ad015", std::nullopt, std::nullopt};

template <typename Call>
KeychainStoreError caught(Call&& call)
{
    return testfiles::thrown<KeychainStoreError>(call).value_or(KeychainStoreError::unexpectedStatus(12345));
}

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
    EXPECT_EQ(AccountIdentity::fromJson(R"({"email":"e","principalId":"p","ed25519PrivateKeyHex":"k",)"
                                        R"("selectedSecretId":-3,"deviceKeyConfirmationPending":true})"),
              (AccountIdentity{"e", "p", "k", -3, true}));
}

TEST(AccountIdentityJson, RejectsEverythingThatIsNotAnIdentity)
{
    const std::string ok = R"({"email":"e","principalId":"p","ed25519PrivateKeyHex":"k")";
    const std::string invalid[] = {
        "[]",                                                             // not an object
        R"({"email":"e","ed25519PrivateKeyHex":"k"})",                    // no principalId
        R"({"email":"e","principalId":null,"ed25519PrivateKeyHex":"k"})", // required, not optional
        ok + R"(,"selectedSecretId":4.5})",
        ok + R"(,"selectedSecretId":18446744073709551615})",
        ok + R"(,"deviceKeyConfirmationPending":1})",
    };
    for (const std::string& json : invalid) {
        const KeychainStoreError error = caught([&] { AccountIdentity::fromJson(QByteArray::fromStdString(json)); });
        EXPECT_EQ(std::pair(error.kind(), error.message()),
                  std::pair(KeychainStoreError::Kind::decodeFailed, QStringLiteral("Could not decode account identity.")))
            << json;
    }
}

// The store's own rules over the in-memory backend; what only the Secret Service has is below.
TEST(KeychainStore, IdentityLifecycle)
{
    const auto backend = makeInMemoryKeychainBackend();
    const KeychainStore store(backend);
    EXPECT_EQ(caught([&] { store.load(); }).message(), "No saved account identity was found.");
    EXPECT_TRUE(store.deleteIdentity()) << "deleting an absent identity counts as done";

    store.save(sample);
    EXPECT_EQ(store.load(), sample);
    EXPECT_EQ(backend->copyMatching(identityItem).data, sample.toJson());
    const AccountIdentity second{sample.email, sample.principalId, sample.ed25519PrivateKeyHex, 17, true};
    store.save(second);
    EXPECT_EQ(store.load(), second);

    EXPECT_TRUE(store.deleteIdentity());
    EXPECT_EQ(caught([&] { store.load(); }).kind(), KeychainStoreError::Kind::itemNotFound);

    // An undecodable stored identity is reported and left as it is.
    ASSERT_EQ(backend->replace(identityItem, "{not json", KeychainContent::text), KeychainStatus::success);
    EXPECT_EQ(caught([&] { store.load(); }).kind(), KeychainStoreError::Kind::decodeFailed);
    EXPECT_EQ(backend->copyMatching(identityItem).data, "{not json") << "a failed load changes nothing";
}

TEST(KeychainStore, LocalKeyIsCreatedOnceSurvivesIdentityRemovalAndIsNeverRepaired)
{
    const auto backend = makeInMemoryKeychainBackend();
    const KeychainStore store(backend);
    EXPECT_EQ(store.loadLocalProtectionKey(), std::nullopt) << "opening makes no key";
    const QByteArray key = store.loadOrCreateLocalProtectionKey();
    EXPECT_EQ(store.loadLocalProtectionKey(), key);
    EXPECT_EQ(key.size(), 32);
    EXPECT_NE(key, QByteArray(32, '\0'));

    store.save(sample);
    EXPECT_TRUE(store.deleteIdentity());
    EXPECT_EQ(KeychainStore(backend).loadOrCreateLocalProtectionKey(), key);

    // A key of the wrong size is reported and never repaired or replaced.
    ASSERT_EQ(backend->remove(keyItem), KeychainStatus::success);
    const QByteArray stored(31, '\x5a');
    ASSERT_EQ(backend->add(keyItem, stored, KeychainContent::binary), KeychainStatus::success);
    const KeychainStoreError error = caught([&] { KeychainStore(backend).loadOrCreateLocalProtectionKey(); });
    EXPECT_EQ(error.kind(), KeychainStoreError::Kind::unexpectedStatus);   // its sentence: StatusesReachTheCaller
    EXPECT_EQ(backend->copyMatching(keyItem).data, stored);
}

// Answers reads with one status and every other call with another, counting the writes.
class ScriptedBackend final : public KeychainBackend {
public:
    ScriptedBackend(int readStatus, int writeStatus) : m_read(readStatus), m_write(writeStatus) {}
    KeychainReadResult copyMatching(const KeychainItemQuery&) override { return {m_read, {}}; }
    int add(const KeychainItemQuery&, const QByteArray&, KeychainContent) override { return ++writes, m_write; }
    int replace(const KeychainItemQuery&, const QByteArray&, KeychainContent) override { return ++writes, m_write; }
    int remove(const KeychainItemQuery&) override { return m_write; }
    int m_read, m_write, writes = 0;
};

TEST(KeychainStoreFailures, StatusesReachTheCallerAsSentences)
{
    // The statuses a person can act on read as a sentence naming cause and remedy.
    const std::pair<int, const char*> cases[] = {
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
    KeychainReadResult copyMatching(const KeychainItemQuery& q) override { return m_inner->copyMatching(q); }
    int add(const KeychainItemQuery& q, const QByteArray& d, KeychainContent c) override { return m_inner->add(q, winner, c), m_inner->add(q, d, c); }
    int replace(const KeychainItemQuery& q, const QByteArray& d, KeychainContent c) override { return m_inner->replace(q, d, c); }
    int remove(const KeychainItemQuery& q) override { return m_inner->remove(q); }
    const QByteArray winner = QByteArray(32, 'w');
    const std::shared_ptr<KeychainBackend> m_inner = makeInMemoryKeychainBackend();
};

TEST(KeychainStoreFailures, LosingTheCreationRaceReturnsTheWinnersKey)
{
    const auto backend = std::make_shared<RacedBackend>();
    EXPECT_EQ(KeychainStore(backend).loadOrCreateLocalProtectionKey(), backend->winner);
}

const char* const childVariable = "KORVO_KEYCHAIN_CHILD";
constexpr int childTimeoutMs = 60000;   // a guard against a hang, not a measurement

// What child runs printed: every status in order, and the last key.
struct ChildResult {
    QList<int> statuses;
    QByteArray key;
    int status() const { return statuses.size() == 1 ? statuses[0] : 1; }
};

ChildResult parseChild(const QByteArray& output)
{
    ChildResult result;
    for (const QByteArray& line : output.split('\n')) {
        if (line.startsWith("status="))
            result.statuses.append(line.mid(7).toInt());
        else if (line.startsWith("key="))
            result.key = QByteArray::fromHex(line.mid(4));
    }
    return result;
}

// The test program's own path (no QCoreApplication here).
QString selfPath() { return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget(); }

std::unique_ptr<QProcess> launchChild(const QString& call,
                                      QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
{
    auto process = std::make_unique<QProcess>();
    environment.insert(childVariable, call);
    process->setProcessEnvironment(environment);
    process->start(selfPath(), {QStringLiteral("--gtest_filter=KeychainChild.Run")});
    return process;
}

ChildResult finishChild(QProcess& process)
{
    EXPECT_TRUE(process.waitForFinished(childTimeoutMs)) << "child process hung";
    return parseChild(process.readAllStandardOutput());
}

QByteArray secretTool(const QStringList& arguments, const QByteArray& input = {})
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), arguments);
    tool.write(input);
    tool.closeWriteChannel();
    EXPECT_TRUE(tool.waitForFinished(childTimeoutMs));
    return tool.readAllStandardOutput();
}

QStringList attributes(const KeychainItemQuery& query) { return {"service", query.service, "account", query.account}; }

int countItems(const KeychainItemQuery& query)
{
    const QByteArray listing = secretTool(QStringList{"search", "--all"} + attributes(query));
    return int(listing.count("\nlabel = ")) + (listing.startsWith("label = ") ? 1 : 0);
}

// The store call a child makes.
TEST(KeychainChild, Run)
{
    const QString call = qEnvironmentVariable(childVariable);
    if (call.isEmpty())
        GTEST_SKIP() << "only run as a child process";
    const KeychainStore store(makeSecretServiceKeychainBackend());
    int status = 0;
    QByteArray key;
    try {
        if (call == "key")
            key = store.loadOrCreateLocalProtectionKey();
        else if (call == "load")
            store.load();
        else if (call == "save")
            store.save({"e@example.com", "p", "k", std::nullopt, std::nullopt});
        else if (call == "delete")
            status = store.deleteIdentity() ? 0 : 1;
    } catch (const KeychainStoreError& error) {
        status = error.kind() == KeychainStoreError::Kind::unexpectedStatus ? error.status() : 1;
    }
    printf("status=%d\nkey=%s\n", status, key.toHex().constData());
}

// The real keychain is only used inside the private test session, never the user's own.
class SecretService : public testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariable("KORVO_IN_SESSION") != "1")
            GTEST_SKIP() << "run under scripts/headless-session.sh to use a Secret Service";
        backend = makeSecretServiceKeychainBackend();
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

TEST_F(SecretService, AddNeverOverwrites)
{
    ASSERT_EQ(backend->add(keyItem, "first", KeychainContent::binary), KeychainStatus::success);
    EXPECT_EQ(backend->add(keyItem, "second", KeychainContent::binary), KeychainStatus::duplicateItem);
    EXPECT_EQ(backend->copyMatching(keyItem).data, "first");
    EXPECT_EQ(backend->remove(keyItem), KeychainStatus::success);
    EXPECT_EQ(backend->remove(keyItem), KeychainStatus::itemNotFound);
    EXPECT_EQ(backend->copyMatching(keyItem).status, KeychainStatus::itemNotFound);
}

TEST_F(SecretService, ItemsAreSharedWithOtherToolsAsRawBytes)
{
    const KeychainStore store(backend);
    const QByteArray key = store.loadOrCreateLocalProtectionKey();
    EXPECT_EQ(secretTool(QStringList{"lookup"} + attributes(keyItem)), key);
    EXPECT_EQ(KeychainStore(makeSecretServiceKeychainBackend()).loadOrCreateLocalProtectionKey(), key) << "a new connection";

    // An older copy in another collection must not outlive a save and be read instead of it.
    secretTool(QStringList{"store", "--collection=session", "--label=stale"} + attributes(identityItem),
               AccountIdentity{"old@example.com", "prn_0", "00", std::nullopt, std::nullopt}.toJson());
    const AccountIdentity identity{"ada@example.com", "prn_1", "abcd", 5, std::nullopt};
    store.save(identity);
    store.save(identity);
    EXPECT_EQ(countItems(identityItem), 1) << "saving twice leaves one identity item";
    EXPECT_EQ(store.load(), identity);
    EXPECT_EQ(secretTool(QStringList{"lookup"} + attributes(identityItem)), identity.toJson());
}

TEST_F(SecretService, ConcurrentFirstUseFromSeveralProcessesKeepsOneKey)
{
    std::vector<std::unique_ptr<QProcess>> children;
    for (int i = 0; i < 6; ++i)
        children.push_back(launchChild(QStringLiteral("key")));
    std::vector<ChildResult> results;
    for (const auto& child : children)
        results.push_back(finishChild(*child));

    const QByteArray stored = backend->copyMatching(keyItem).data;
    ASSERT_EQ(stored.size(), 32);
    EXPECT_EQ(countItems(keyItem), 1);
    // Every caller goes on with the one stored key, whoever created it.
    for (const ChildResult& result : results) {
        EXPECT_EQ(result.status(), KeychainStatus::success);
        EXPECT_EQ(result.key, stored);
    }
}

// (Children run KeychainChild.Run alone. A bus without a Secret Service is tests/faults'.)
TEST(UnusableKeychain, NoBusMakesEveryCallUnavailable)
{
    QTemporaryDir folder;
    for (const QString& address : {QStringLiteral("unix:path=/nonexistent/korvo-test-bus"), QString()}) {
        SCOPED_TRACE(address.isEmpty() ? "no bus configured" : "bus address pointing at nothing");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
        if (address.isEmpty()) {
            environment.remove("DBUS_SESSION_BUS_ADDRESS");
            environment.remove("DISPLAY");
            environment.insert("XDG_RUNTIME_DIR", folder.path());
        }
        for (const char* call : {"load", "save", "key"})
            EXPECT_EQ(finishChild(*launchChild(call, environment)).status(), KeychainStatus::notAvailable) << call;
        EXPECT_EQ(finishChild(*launchChild("delete", environment)).status(), 1) << "deleteIdentity() reports false";
    }
}

TEST(UnusableKeychain, LockedKeychainIsReportedWithoutPrompting)
{
    // A session of its own: its login keyring gets an identity, is locked, and the store is asked
    // again. Unlocking would need a prompt nobody can answer here.
    QTemporaryDir home;
    QProcess session;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_RUNTIME_DIR", home.path());
    environment.insert("XDG_DATA_HOME", home.filePath(".local/share"));
    environment.insert("SELF", selfPath());
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    session.setProcessEnvironment(environment);
    const QString script = QStringLiteral(
        "echo '' | gnome-keyring-daemon --unlock --components=secrets >/dev/null\n"
        "child() { KORVO_KEYCHAIN_CHILD=$1 \"$SELF\" --gtest_filter=KeychainChild.Run; }\n"
        "child save\n"
        "gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets "
        "--method org.freedesktop.Secret.Service.Lock \"['/org/freedesktop/secrets/collection/login']\" >/dev/null\n"
        "for call in load key save delete; do child $call; done\n"
        // The default collection moves to an unlocked one: a save stores the new identity there,
        // and the old copy that cannot be removed from the locked collection does not fail it.
        "gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets "
        "--method org.freedesktop.Secret.Service.SetAlias default /org/freedesktop/secrets/collection/session >/dev/null\n"
        "child save; child load\n");
    session.start(QStringLiteral("dbus-run-session"), {"--", "sh", "-c", script});
    ASSERT_TRUE(session.waitForFinished(childTimeoutMs)) << "the locked keychain made a call hang";
    const QList<int> expected{KeychainStatus::success, KeychainStatus::authFailed, KeychainStatus::authFailed,
                              KeychainStatus::authFailed, 1, KeychainStatus::success, KeychainStatus::success};
    EXPECT_EQ(parseChild(session.readAllStandardOutput()).statuses, expected) << session.readAllStandardError().constData();
}

} // namespace

// Without a runtime folder, a lock file at a fixed name in the shared temporary folder (another
// user's, which nobody here may remove) must not block key creation.
TEST(KeychainCreationLockPlace, WithoutARuntimeFolderTheLockIsPerUser)
{
    QTemporaryDir shared, home;
    ASSERT_TRUE(QDir(shared.path()).mkdir("korvo-keychain.lock"));
    const std::pair<const char*, QByteArray> values[] = {
        {"TMPDIR", shared.path().toUtf8()}, {"HOME", home.path().toUtf8()}, {"XDG_RUNTIME_DIR", {}}, {"XDG_CACHE_HOME", {}}};
    QList<QByteArray> saved;
    for (const auto& [name, value] : values) {
        saved.append(qgetenv(name));
        value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    EXPECT_TRUE(KeychainCreationLock().isLocked());
    for (qsizetype i = 0; i < saved.size(); ++i)
        saved[i].isNull() ? qunsetenv(values[i].first) : qputenv(values[i].first, saved[i]);
}
