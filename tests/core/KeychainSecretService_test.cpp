// The Secret Service backend against a real service: what other tools see, concurrent first
// use from several processes, and a missing or locked keychain. Child processes re-run this
// program with KORVO_KEYCHAIN_CHILD naming one store call; they print "status=<n> key=<hex>".
#include "core/KeychainStore.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

const KeychainItemQuery identityItem{"com.korvo.security.macos", "web2.identity"};
const KeychainItemQuery keyItem{"com.korvo.security.macos", "local.protection.key"};
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
    if (!process.waitForFinished(childTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "child process hung";
        return {};
    }
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

class SecretServiceTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!qEnvironmentVariable(childVariable).isEmpty() || qEnvironmentVariable("KORVO_IN_SESSION") != "1")
            GTEST_SKIP() << "run under scripts/headless-session.sh to use a Secret Service";
        TearDown();
    }
    void TearDown() override
    {
        backend->remove(identityItem);
        backend->remove(keyItem);
    }

    std::shared_ptr<KeychainBackend> backend = makeSecretServiceKeychainBackend();
};

TEST_F(SecretServiceTest, ItemsAreSharedWithOtherToolsAsRawBytes)
{
    const KeychainStore store(backend);
    const QByteArray key = store.loadOrCreateLocalProtectionKey();
    EXPECT_EQ(secretTool(QStringList{"lookup"} + attributes(keyItem)), key);

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

TEST_F(SecretServiceTest, ConcurrentFirstUseFromSeveralProcessesKeepsOneKey)
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

// ---- No keychain to talk to -------------------------------------------------------------------

class UnusableKeychainTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!qEnvironmentVariable(childVariable).isEmpty())
            GTEST_SKIP() << "only run as the parent";
    }
};

TEST_F(UnusableKeychainTest, NoBusOrNoServiceMakesEveryCallUnavailable)
{
    // A private bus that knows no activatable services.
    QTemporaryDir folder;
    QFile config(folder.filePath("bus.conf"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                                "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"
                                "<busconfig><type>session</type><listen>unix:path=%1</listen>"
                                "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>")
                     .arg(folder.filePath("bus"))
                     .toUtf8());
    config.close();
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {"--config-file=" + config.fileName(), "--nofork", "--print-address"});
    ASSERT_TRUE(bus.waitForReadyRead(10000)) << "dbus-daemon did not start";

    const std::vector<std::pair<const char*, QString>> buses = {   // empty: no bus configured at all
        {"bus address pointing at nothing", "unix:path=/nonexistent/korvo-test-bus"},
        {"no bus configured", ""},
        {"bus without a Secret Service", QString::fromUtf8(bus.readLine()).trimmed()},
    };
    for (const auto& [name, address] : buses) {
        SCOPED_TRACE(name);
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
    bus.terminate();
    bus.waitForFinished();
}

TEST_F(UnusableKeychainTest, LockedKeychainIsReportedWithoutPrompting)
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
