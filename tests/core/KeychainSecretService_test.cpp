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

bool inTestSession()
{
    return qEnvironmentVariable("KORVO_IN_SESSION") == "1";
}

struct ChildResult {
    int status = 1;
    QByteArray key;
};

ChildResult parseChild(const QByteArray& output)
{
    ChildResult result;
    for (const QByteArray& line : output.split('\n')) {
        if (line.startsWith("status="))
            result.status = line.mid(7).toInt();
        else if (line.startsWith("key="))
            result.key = QByteArray::fromHex(line.mid(4));
    }
    return result;
}

// The test program's own path (no QCoreApplication here).
QString selfPath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

QProcess* launchChild(const QString& call, QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
{
    auto* process = new QProcess;
    environment.insert(childVariable, call);
    process->setProcessEnvironment(environment);
    process->start(selfPath(), {QStringLiteral("--gtest_filter=KeychainChild.Run")});
    return process;
}

ChildResult finishChild(QProcess* process)
{
    const std::unique_ptr<QProcess> owner(process);
    if (!process->waitForFinished(childTimeoutMs)) {
        process->kill();
        process->waitForFinished();
        ADD_FAILURE() << "child process hung";
        return {};
    }
    return parseChild(process->readAllStandardOutput());
}

ChildResult runChild(const QString& call, const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    return finishChild(launchChild(call, environment));
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

int countItems(const KeychainItemQuery& query)
{
    const QByteArray listing = secretTool({"search", "--all", "service", query.service, "account", query.account});
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
        if (!qEnvironmentVariable(childVariable).isEmpty() || !inTestSession())
            GTEST_SKIP() << "run under scripts/headless-session.sh to use a Secret Service";
        backend->remove(identityItem);
        backend->remove(keyItem);
    }
    void TearDown() override
    {
        backend->remove(identityItem);
        backend->remove(keyItem);
    }

    std::shared_ptr<KeychainBackend> backend = makeSecretServiceKeychainBackend();
};

TEST_F(SecretServiceTest, ItemsAreVisibleToOtherToolsAsRawBytes)
{
    const KeychainStore store(backend);
    const QByteArray key = store.loadOrCreateLocalProtectionKey();
    EXPECT_EQ(secretTool({"lookup", "service", "com.korvo.security.macos", "account", "local.protection.key"}), key);

    // An older copy in another collection must not outlive a save and be read instead of it.
    secretTool({"store", "--collection=session", "--label=stale", "service", identityItem.service, "account",
                identityItem.account},
               AccountIdentity{"old@example.com", "prn_0", "00", std::nullopt, std::nullopt}.toJson());
    const AccountIdentity identity{"ada@example.com", "prn_1", "abcd", 5, std::nullopt};
    store.save(identity);
    store.save(identity);
    EXPECT_EQ(countItems(identityItem), 1) << "saving twice leaves one identity item";
    EXPECT_EQ(store.load(), identity);
    EXPECT_EQ(secretTool({"lookup", "service", "com.korvo.security.macos", "account", "web2.identity"}),
              identity.toJson());
}

TEST_F(SecretServiceTest, ItemsWrittenByOtherToolsAreRead)
{
    secretTool({"store", "--label=short key", "service", keyItem.service, "account", keyItem.account},
               QByteArray(16, 'k'));
    const KeychainStore store(backend);
    try {
        store.loadOrCreateLocalProtectionKey();
        ADD_FAILURE() << "a 16-byte key was accepted";
    } catch (const KeychainStoreError& error) {
        EXPECT_EQ(error.status(), 0);
    }
    EXPECT_EQ(countItems(keyItem), 1);
    EXPECT_EQ(backend->copyMatching(keyItem).data, QByteArray(16, 'k'));
}

TEST_F(SecretServiceTest, ConcurrentFirstUseFromSeveralProcessesKeepsOneKey)
{
    constexpr int processes = 6;
    std::vector<QProcess*> children;
    for (int i = 0; i < processes; ++i)
        children.push_back(launchChild(QStringLiteral("key")));
    std::vector<ChildResult> results;
    for (QProcess* child : children)
        results.push_back(finishChild(child));

    const QByteArray stored = backend->copyMatching(keyItem).data;
    ASSERT_EQ(stored.size(), 32);
    EXPECT_EQ(countItems(keyItem), 1);
    int successes = 0;
    for (const ChildResult& result : results) {
        if (result.status == KeychainStatus::success) {
            ++successes;
            EXPECT_EQ(result.key, stored) << "a caller was handed a key that is not the stored one";
        } else {
            EXPECT_EQ(result.status, KeychainStatus::duplicateItem);
        }
    }
    EXPECT_GE(successes, 1);
}

// ---- No keychain to talk to -------------------------------------------------------------------

class UnusableKeychainTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!qEnvironmentVariable(childVariable).isEmpty())
            GTEST_SKIP() << "only run as the parent";
    }

    static void expectEveryCallUnavailable(const QProcessEnvironment& environment)
    {
        for (const char* call : {"load", "save", "key"})
            EXPECT_EQ(runChild(QString::fromLatin1(call), environment).status, KeychainStatus::notAvailable) << call;
        EXPECT_EQ(runChild(QStringLiteral("delete"), environment).status, 1) << "deleteIdentity() reports false";
    }
};

TEST_F(UnusableKeychainTest, BusAddressPointingAtNothing)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/korvo-test-bus");
    expectEveryCallUnavailable(environment);
}

TEST_F(UnusableKeychainTest, NoBusConfiguredAtAll)
{
    QTemporaryDir runtime;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    environment.remove("DISPLAY");
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    expectEveryCallUnavailable(environment);
}

TEST_F(UnusableKeychainTest, BusWithoutSecretService)
{
    // A private bus that knows no activatable services.
    QTemporaryDir folder;
    const QString config = folder.filePath("bus.conf");
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                              "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"
                              "<busconfig><type>session</type><listen>unix:path=%1</listen>"
                              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>")
                   .arg(folder.filePath("bus"))
                   .toUtf8());
    file.close();
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                                              QStringLiteral("--print-address")});
    ASSERT_TRUE(bus.waitForReadyRead(10000)) << "dbus-daemon did not start";
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
    expectEveryCallUnavailable(environment);
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
        "for call in load key save delete; do child $call; done\n");
    session.start(QStringLiteral("dbus-run-session"), {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"), script});
    ASSERT_TRUE(session.waitForFinished(childTimeoutMs)) << "the locked keychain made a call hang";
    QList<int> statuses;
    for (const QByteArray& line : session.readAllStandardOutput().split('\n'))
        if (line.startsWith("status="))
            statuses.append(line.mid(7).toInt());
    const QList<int> expected{KeychainStatus::success, KeychainStatus::authFailed, KeychainStatus::authFailed,
                              KeychainStatus::authFailed, 1};
    EXPECT_EQ(statuses, expected) << session.readAllStandardError().constData();
}

} // namespace
