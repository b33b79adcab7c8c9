// The runner against a fixture bridge: where it looks for node and the script, what the child
// receives, and how every way a child can end becomes a result or an error.

#include "core/bridge/BridgeRunner.h"
#include "fixtures/FixtureBridge.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using fixture::EchoResult;
using fixture::finish;

namespace {

const QString kSession = QStringLiteral(
    R"({"ok":true,"result":{"principalId":"p-1","sessionAddress":"s-1","expiresAt":"2030-01-01T00:00:00Z"}})");
const QString kCheck = QStringLiteral(
    R"({"ok":true,"result":{"sdkVersion":"9.1","blackboxUrl":"https://b:3010","node":"v20"}})");

void touch(const QString& path, QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n");
    file.close();
    file.setPermissions(permissions);
}

const QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

BridgeRequest listSecrets()
{
    BridgeRequest request;
    request.command = QStringLiteral("listSecrets");
    request.blackboxUrl = QStringLiteral("https://fixture.test:3010");
    request.principalId = QStringLiteral("p-1");
    return request;
}

class BridgeRunnerTest : public ::testing::Test {
protected:
    void SetUp() override { fixture::ensureApplication(); }

    template<typename T = SessionResult>
    fixture::Outcome<T> run(const BridgeRequest& request = listSecrets())
    {
        return finish(bridge.runner().run<T>(request));
    }
    fixture::Outcome<BridgeCheckResult> check() { return finish(bridge.runner().check()); }

    fixture::Bridge bridge;
};

// ---- finding the script and node --------------------------------------------------------------

TEST(BridgeLookup, ScriptSearchOrder)
{
    QTemporaryDir root;
    const QString resources = root.filePath("resources");
    const QString work = root.filePath("app/work");
    QDir().mkpath(resources);
    QDir().mkpath(work);

    BridgeSurroundings surroundings;
    surroundings.environment = QProcessEnvironment();
    surroundings.environment->insert("KORVO_BRIDGE_SCRIPT", root.filePath("nowhere.mjs"));
    surroundings.workingDirectory = work;
    surroundings.resourcesDirectory = resources;

    // Nothing anywhere: the first candidate is named, with the full stop right after it.
    try {
        BridgeRunner(surroundings).bridgeScriptPath();
        FAIL() << "expected missingBridge";
    } catch (const BridgeError& e) {
        EXPECT_EQ(e.kind(), BridgeError::Kind::missingBridge);
        EXPECT_EQ(e.message(), "Bridge script was not found at " + resources + "/bridge/korvo-bridge.mjs.");
    }
    // Without a resources directory the working directory's candidate comes first.
    BridgeSurroundings bare = surroundings;
    bare.resourcesDirectory.reset();
    try {
        BridgeRunner(bare).bridgeScriptPath();
        FAIL() << "expected missingBridge";
    } catch (const BridgeError& e) {
        EXPECT_EQ(e.payload(), work + "/bridge/korvo-bridge.mjs");
    }

    // Each candidate, added from last to first, takes over; the variable naming nothing is
    // ignored throughout.
    touch(root.filePath("app/bridge/korvo-bridge.mjs"));
    EXPECT_EQ(BridgeRunner(surroundings).bridgeScriptPath(), root.filePath("app/bridge/korvo-bridge.mjs"));
    touch(work + "/bridge/korvo-bridge.mjs");
    EXPECT_EQ(BridgeRunner(surroundings).bridgeScriptPath(), work + "/bridge/korvo-bridge.mjs");
    touch(resources + "/bridge/korvo-bridge.mjs");
    EXPECT_EQ(BridgeRunner(surroundings).bridgeScriptPath(), resources + "/bridge/korvo-bridge.mjs");

    // An existing path in the variable beats them all; a relative one counts from the
    // working directory.
    touch(root.filePath("chosen.mjs"));
    surroundings.environment->insert("KORVO_BRIDGE_SCRIPT", root.filePath("chosen.mjs"));
    EXPECT_EQ(BridgeRunner(surroundings).bridgeScriptPath(), root.filePath("chosen.mjs"));
    surroundings.environment->insert("KORVO_BRIDGE_SCRIPT", "../../chosen.mjs");
    EXPECT_EQ(QDir::cleanPath(BridgeRunner(surroundings).bridgeScriptPath()), root.filePath("chosen.mjs"));
    surroundings.environment->insert("KORVO_BRIDGE_SCRIPT", "");
    EXPECT_EQ(BridgeRunner(surroundings).bridgeScriptPath(), resources + "/bridge/korvo-bridge.mjs");
}

TEST(BridgeLookup, NodeSearchOrder)
{
    QTemporaryDir root;
    BridgeSurroundings surroundings;
    surroundings.resourcesDirectory = root.filePath("resources");
    surroundings.nodeCandidates = {root.filePath("first/node"), root.filePath("second/node")};
    const auto launch = [&] { return BridgeRunner(surroundings).nodeLaunch(); };

    // None executable (missing, not executable, a folder): node through env on the search path.
    touch(root.filePath("first/node"));
    QDir().mkpath(root.filePath("second/node"));
    EXPECT_EQ(launch(), (NodeLaunch{"/usr/bin/env", {"node"}}));

    touch(root.filePath("third/node"), kExecutable);
    surroundings.nodeCandidates << root.filePath("third/node");
    EXPECT_EQ(launch(), (NodeLaunch{root.filePath("third/node"), {}}));

    QFile::setPermissions(root.filePath("first/node"), kExecutable);
    EXPECT_EQ(launch(), (NodeLaunch{root.filePath("first/node"), {}}));

    touch(root.filePath("resources/node/bin/node"), kExecutable);
    EXPECT_EQ(launch(), (NodeLaunch{root.filePath("resources/node/bin/node"), {}}));
}

TEST_F(BridgeRunnerTest, WorkingDirectoryCopyIsUsedWhenTheVariableNamesNothing)
{
    const QString copy = bridge.folder() + "/bridge/korvo-bridge.mjs";
    QDir().mkpath(bridge.folder() + "/bridge");
    ASSERT_TRUE(QFile::copy(fixture::scriptPath(), copy));
    bridge.set("KORVO_BRIDGE_SCRIPT", bridge.folder() + "/missing.mjs");

    const auto outcome = run<EchoResult>();
    ASSERT_TRUE(outcome.value) << outcome.message().toStdString();
    EXPECT_EQ(*outcome.value->args, QStringList{copy});
    ASSERT_EQ(bridge.log().size(), 1u);
    EXPECT_EQ(bridge.log()[0]["cwd"], bridge.folder().toStdString());
}

TEST_F(BridgeRunnerTest, MissingScriptReachesTheAwaitingCaller)
{
    bridge.set("KORVO_BRIDGE_SCRIPT", bridge.folder() + "/missing.mjs");
    const auto outcome = run();
    EXPECT_EQ(outcome.message(), "Bridge script was not found at " + bridge.folder() + "/bridge/korvo-bridge.mjs.");
}

TEST_F(BridgeRunnerTest, NodeThatCannotBeStartedIsReported)
{
    BridgeSurroundings surroundings = bridge.surroundings();
    surroundings.nodeCandidates = {bridge.folder() + "/not-a-program"};
    QFile garbage(bridge.folder() + "/not-a-program");
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("\x7f" "ELF but not really");
    garbage.close();
    garbage.setPermissions(kExecutable);

    const auto outcome = finish(BridgeRunner(surroundings).run<SessionResult>(listSecrets()));
    const auto* error = outcome.errorAs<BridgeProcessError>();
    ASSERT_NE(error, nullptr) << outcome.message().toStdString();
    EXPECT_EQ(error->kind(), BridgeProcessError::Kind::startFailed);
    EXPECT_FALSE(outcome.message().isEmpty());
}

// ---- what the child receives ------------------------------------------------------------------

TEST_F(BridgeRunnerTest, RequestArrivesWholeAndAloneOnStandardInput)
{
    BridgeRequest request = listSecrets();
    request.password = QStringLiteral("p\"ä\n🔑");
    request.secretId = 0;
    const auto outcome = run<EchoResult>(request);
    ASSERT_TRUE(outcome.value) << outcome.message().toStdString();
    EXPECT_EQ(outcome.value->echo.toUtf8(), request.toJson());
    EXPECT_EQ(*outcome.value->args, QStringList{fixture::scriptPath()});
}

TEST_F(BridgeRunnerTest, CheckPassesItsArgumentLastAndWritesNothing)
{
    bridge.set("FIXTURE_STDOUT", kCheck);
    const auto outcome = check();
    ASSERT_TRUE(outcome.value) << outcome.message().toStdString();
    EXPECT_EQ(*outcome.value, (BridgeCheckResult{"9.1", "https://b:3010", "v20"}));
    ASSERT_EQ(bridge.log().size(), 1u);
    EXPECT_EQ(bridge.log()[0]["args"], nlohmann::json({fixture::scriptPath().toStdString(), "--check"}));
    EXPECT_TRUE(bridge.log()[0]["request"].is_null());
}

TEST_F(BridgeRunnerTest, ConcurrentRunsKeepTheirOwnPipes)
{
    fixture::ensureApplication();
    bridge.set("FIXTURE_DELAY_MS", "100");
    const BridgeRunner runner = bridge.runner();
    std::vector<QCoro::Task<fixture::Outcome<EchoResult>>> tasks;
    for (int i = 0; i < 6; ++i) {
        BridgeRequest request = listSecrets();
        request.secretId = i;
        tasks.push_back(fixture::capture(runner.run<EchoResult>(request)));
    }
    for (int i = 0; i < 6; ++i) {
        const auto outcome = QCoro::waitFor(tasks[i]);
        ASSERT_TRUE(outcome.value) << outcome.message().toStdString();
        EXPECT_EQ(nlohmann::json::parse(outcome.value->echo.toStdString())["secretId"], i);
    }
    EXPECT_EQ(bridge.log().size(), 6u);
}

TEST_F(BridgeRunnerTest, RunOutlivesItsRunner)
{
    bridge.set("FIXTURE_DELAY_MS", "100");
    bridge.set("FIXTURE_STDOUT", kSession);
    QCoro::Task<SessionResult> task = [&] {
        const BridgeRunner runner = bridge.runner();
        return runner.run<SessionResult>(listSecrets());
    }();
    const auto outcome = finish(std::move(task));
    ASSERT_TRUE(outcome.value) << outcome.message().toStdString();
    EXPECT_EQ(outcome.value->principalId, "p-1");
}

// ---- how a child ends -------------------------------------------------------------------------

struct EndCase {
    const char* name;
    QString stdoutText;
    QString stderrHex;   // raw bytes, so unreadable text can be given
    int exitCode;
    const char* mode = "answer";
    enum class Expect { session, bridge, processFailed, invalidResponse, decoding } expect;
    QString message;
};

TEST_F(BridgeRunnerTest, EveryWayACommandEnds)
{
    using E = EndCase::Expect;
    const QString errorEnvelope = R"({"ok":false,"error":"Quota exceeded"})";
    const std::vector<EndCase> cases = {
        {"success", kSession, "", 0, "answer", E::session, ""},
        {"failed exit, envelope error wins over stderr", errorEnvelope, QByteArray("other").toHex(), 2,
         "answer", E::bridge, "Quota exceeded"},
        {"failed exit, garbage out, stderr trimmed", "not json", QByteArray("  word \n").toHex(), 1,
         "answer", E::processFailed, "word"},
        {"failed exit, empty stderr", "not json", "", 1, "answer", E::processFailed, "Bridge command failed."},
        {"failed exit, blank stderr", "", QByteArray(" \n\t").toHex(), 1, "answer", E::processFailed,
         "Bridge command failed."},
        {"failed exit, stderr not UTF-8", "", "ff fe 41", 1, "answer", E::processFailed, "Bridge command failed."},
        {"failed exit, envelope without error", kSession, QByteArray("boom").toHex(), 3, "answer",
         E::processFailed, "boom"},
        {"failed exit, envelope of the wrong shape with error", R"({"ok":false,"result":"x","error":"e"})",
         QByteArray("fallback").toHex(), 1, "answer", E::processFailed, "fallback"},
        {"killed by a signal", "", QByteArray("dying").toHex(), 0, "crash", E::processFailed, "dying"},
        {"clean exit, error beats ok and result",
         R"({"ok":true,"result":{"principalId":"p","sessionAddress":"s","expiresAt":"e"},"error":"late"})", "",
         0, "answer", E::bridge, "late"},
        {"clean exit, error with ok false", errorEnvelope, "", 0, "answer", E::bridge, "Quota exceeded"},
        {"clean exit, ok false and nothing else", R"({"ok":false})", "", 0, "answer", E::invalidResponse,
         "Bridge returned an invalid response."},
        {"clean exit, ok true and result null", R"({"ok":true,"result":null})", "", 0, "answer",
         E::invalidResponse, "Bridge returned an invalid response."},
        {"clean exit, empty output", "", QByteArray("ignored").toHex(), 0, "answer", E::decoding, ""},
        {"clean exit, result of the wrong shape", R"({"ok":true,"result":{"principalId":"p"}})", "", 0,
         "answer", E::decoding, ""},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.name);
        bridge.set("FIXTURE_STDOUT", c.stdoutText);
        bridge.set("FIXTURE_STDERR_HEX", QString(c.stderrHex).remove(' '));
        bridge.set("FIXTURE_EXIT", QString::number(c.exitCode));
        bridge.set("FIXTURE_MODE", c.mode);
        const auto outcome = run();
        if (c.expect == E::session) {
            ASSERT_TRUE(outcome.value) << outcome.message().toStdString();
            EXPECT_EQ(*outcome.value, (SessionResult{"p-1", "s-1", "2030-01-01T00:00:00Z"}));
            continue;
        }
        ASSERT_TRUE(outcome.error);
        EXPECT_FALSE(outcome.message().isEmpty());
        if (c.expect == E::decoding) {
            EXPECT_NE(outcome.errorAs<BridgeDecodingError>(), nullptr) << outcome.message().toStdString();
            continue;
        }
        const auto* error = outcome.errorAs<BridgeError>();
        ASSERT_NE(error, nullptr) << outcome.message().toStdString();
        const auto kind = c.expect == E::bridge            ? BridgeError::Kind::bridge
                          : c.expect == E::processFailed   ? BridgeError::Kind::processFailed
                                                           : BridgeError::Kind::invalidResponse;
        EXPECT_EQ(error->kind(), kind);
        EXPECT_EQ(error->message(), c.message);
    }
}

TEST_F(BridgeRunnerTest, EveryWayACheckEnds)
{
    struct Case {
        const char* name;
        QString stdoutText;
        QString stderrHex;
        int exitCode;
        std::optional<QString> processFailure;   // else invalidResponse, unless it succeeds
        bool succeeds = false;
    };
    const std::vector<Case> cases = {
        {"failed exit keeps stderr untrimmed, output unread", kCheck, QByteArray("  no node \n").toHex(), 4,
         QString("  no node \n")},
        {"failed exit, stderr not UTF-8", kCheck, "c328", 4, QString("Bridge check failed.")},
        {"failed exit, empty stderr", kCheck, "", 4, QString("Bridge check failed.")},
        {"clean exit, error ignored when the result is there",
         R"({"ok":true,"error":"x","result":{"sdkVersion":"1","blackboxUrl":"u","node":"n"}})", "", 0,
         std::nullopt, true},
        {"clean exit, ok false with error", R"({"ok":false,"error":"down"})", "", 0, std::nullopt},
        {"clean exit, ok true without result", R"({"ok":true})", "", 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bridge.set("FIXTURE_STDOUT", c.stdoutText);
        bridge.set("FIXTURE_STDERR_HEX", c.stderrHex);
        bridge.set("FIXTURE_EXIT", QString::number(c.exitCode));
        const auto outcome = check();
        if (c.succeeds) {
            EXPECT_TRUE(outcome.value) << outcome.message().toStdString();
            continue;
        }
        const auto* error = outcome.errorAs<BridgeError>();
        ASSERT_NE(error, nullptr) << outcome.message().toStdString();
        if (c.processFailure) {
            EXPECT_EQ(error->kind(), BridgeError::Kind::processFailed);
            EXPECT_EQ(error->message(), *c.processFailure);
        } else {
            EXPECT_EQ(error->kind(), BridgeError::Kind::invalidResponse);
        }
    }
}

// ---- the shipped bridge ----------------------------------------------------------------------

// The bridge in this repository, as an independent writer of the documents read here: its
// health check and a command that needs no service.
TEST_F(BridgeRunnerTest, ShippedBridgeAnswersReadably)
{
    const QString shipped = QStringLiteral(KORVO_SOURCE_DIR "/bridge/korvo-bridge.mjs");
    if (!QFile::exists(shipped))
        GTEST_SKIP() << "no bridge script in this tree";
    bridge.set("KORVO_BRIDGE_SCRIPT", shipped);

    const auto checked = check();
    ASSERT_TRUE(checked.value) << checked.message().toStdString();
    EXPECT_TRUE(checked.value->node.startsWith(u'v'));

    BridgeRequest request;
    request.command = QStringLiteral("generateKey");
    request.blackboxUrl = BridgeRunner::defaultBlackboxUrl();
    const auto generated = run<GeneratedKey>(request);
    ASSERT_TRUE(generated.value) << generated.message().toStdString();
    EXPECT_EQ(generated.value->privateKeyHex.size(), 64);
    EXPECT_EQ(generated.value->publicKeyHex.size(), 64);
}

// ---- pipes ------------------------------------------------------------------------------------

TEST_F(BridgeRunnerTest, ChildThatNeverReadsItsInputFailsTheWrite)
{
    bridge.set("FIXTURE_MODE", "no-read");
    bridge.set("FIXTURE_EXIT", "0");
    BridgeRequest large = listSecrets();
    large.password = QString(2 * 1024 * 1024, u'x');   // far more than a pipe holds
    const auto outcome = run(large);
    const auto* error = outcome.errorAs<BridgeProcessError>();
    ASSERT_NE(error, nullptr) << outcome.message().toStdString();
    EXPECT_EQ(error->kind(), BridgeProcessError::Kind::writeFailed);

    // A small request may or may not fit in the pipe before the child is gone; either way the
    // run ends in an error and the application carries on.
    for (int i = 0; i < 5; ++i) {
        const auto small = run();
        EXPECT_TRUE(small.errorAs<BridgeProcessError>() || small.errorAs<BridgeDecodingError>())
            << small.message().toStdString();
    }
}

TEST_F(BridgeRunnerTest, MebibyteOnBothPipesDoesNotBlock)
{
    bridge.set("FIXTURE_MODE", "flood");
    bridge.set("FIXTURE_STDOUT", R"({"principalId":"p-1","sessionAddress":"s-1","expiresAt":"x"})");
    const auto outcome = run();
    ASSERT_TRUE(outcome.value) << outcome.message().toStdString();
    EXPECT_EQ(outcome.value->sessionAddress, "s-1");

    // The same flood on a failing exit: standard error comes back whole.
    bridge.set("FIXTURE_EXIT", "1");
    const auto failed = run();
    const auto* error = failed.errorAs<BridgeError>();
    ASSERT_NE(error, nullptr) << failed.message().left(200).toStdString();
    EXPECT_EQ(error->message().size(), 1024 * 1024);
}

} // namespace
