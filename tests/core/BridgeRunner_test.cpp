// The runner against a fixture bridge: where it looks for node and the script, what the child
// receives, and how every way a child can end becomes a result or an error.

#include "core/bridge/BridgeRunner.h"
#include "fixtures/FixtureBridge.h"
#include "fixtures/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using fixture::EchoResult;
using fixture::finish;

namespace {

const QString kSession = QStringLiteral(
    R"({"ok":true,"result":{"principalId":"p-1","sessionAddress":"s-1","expiresAt":"2030-01-01T00:00:00Z"}})");
const QString kCheck = QStringLiteral(
    R"({"ok":true,"result":{"sdkVersion":"9.1","blackboxUrl":"https://b:3010","node":"v20"}})");
const QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

void touch(const QString& path, QFile::Permissions permissions = {}, const QByteArray& content = "#!/bin/sh\n")
{
    testfiles::writeFile(path, content, permissions);
}

BridgeRequest listSecrets(std::optional<qint64> secretId = std::nullopt)
{
    BridgeRequest request;
    request.command = QStringLiteral("listSecrets");
    request.blackboxUrl = QStringLiteral("https://fixture.test:3010");
    request.principalId = QStringLiteral("p-1");
    request.secretId = secretId;
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
    // The fixture's answer for the next runs: standard output, raw standard error, exit status.
    void answer(const QString& out, const QByteArray& err = {}, int exitCode = 0, const char* mode = "answer")
    {
        bridge.set("FIXTURE_STDOUT", out);
        bridge.set("FIXTURE_STDERR_HEX", err.toHex());
        bridge.set("FIXTURE_EXIT", QString::number(exitCode));
        bridge.set("FIXTURE_MODE", mode);
    }

    fixture::Bridge bridge;
};

TEST(BridgeLookup, ScriptSearchOrder)
{
    QTemporaryDir root;
    const QString resources = root.filePath("resources"), work = root.filePath("app/work");
    QDir().mkpath(resources);
    QDir().mkpath(work);
    BridgeSurroundings surroundings;
    surroundings.environment = QProcessEnvironment();
    surroundings.environment->insert("KORVO_BRIDGE_SCRIPT", root.filePath("nowhere.mjs"));
    surroundings.workingDirectory = work;
    surroundings.resourcesDirectory = resources;
    const auto found = [&](const BridgeSurroundings& s) {
        try {
            return QDir::cleanPath(BridgeRunner(s).bridgeScriptPath());
        } catch (const BridgeError& e) {   // the sentence itself is checked on a run below
            EXPECT_EQ(e.kind(), BridgeError::Kind::missingBridge);
            return "missing " + e.payload();
        }
    };

    // Nothing anywhere: the first candidate is named (the working directory's, without resources).
    EXPECT_EQ(found(surroundings), "missing " + resources + "/bridge/korvo-bridge.mjs");
    BridgeSurroundings bare = surroundings;
    bare.resourcesDirectory.reset();
    EXPECT_EQ(found(bare), "missing " + work + "/bridge/korvo-bridge.mjs");

    // Each candidate, added from last to first, takes over; the variable naming nothing is ignored.
    for (const QString& candidate : {root.filePath("app/bridge/korvo-bridge.mjs"), work + "/bridge/korvo-bridge.mjs",
                                     resources + "/bridge/korvo-bridge.mjs"}) {
        touch(candidate);
        EXPECT_EQ(found(surroundings), candidate);
    }
    // An existing path in the variable beats them all, a relative one from the working directory.
    touch(root.filePath("chosen.mjs"));
    for (const QString& variable : {root.filePath("chosen.mjs"), QStringLiteral("../../chosen.mjs")}) {
        surroundings.environment->insert("KORVO_BRIDGE_SCRIPT", variable);
        EXPECT_EQ(found(surroundings), root.filePath("chosen.mjs"));
    }
    surroundings.environment->insert("KORVO_BRIDGE_SCRIPT", "");
    EXPECT_EQ(found(surroundings), resources + "/bridge/korvo-bridge.mjs");
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

TEST_F(BridgeRunnerTest, LaunchProblemsReachTheCallerAndTheRequestArrivesWhole)
{
    bridge.set("KORVO_BRIDGE_SCRIPT", bridge.folder() + "/missing.mjs");
    EXPECT_EQ(run().message(), "Bridge script was not found at " + bridge.folder() + "/bridge/korvo-bridge.mjs.");

    // The working directory's copy is used; the request arrives whole on standard input, the
    // health check gets none.
    const QString copy = bridge.folder() + "/bridge/korvo-bridge.mjs";
    QDir().mkpath(bridge.folder() + "/bridge");
    ASSERT_TRUE(QFile::copy(fixture::scriptPath(), copy));
    BridgeRequest request = listSecrets(0);
    request.password = QStringLiteral("p\"ä\n🔑");
    EXPECT_TRUE(run<EchoResult>(request).value);
    answer(kCheck);
    const auto checked = finish(bridge.runner().check());
    EXPECT_EQ(checked.value, (BridgeCheckResult{"9.1", "https://b:3010", "v20"})) << checked.message().toStdString();
    const std::string script = copy.toStdString(), folder = bridge.folder().toStdString();
    EXPECT_EQ(bridge.log(), (std::vector<nlohmann::json>{
                                {{"args", nlohmann::json::array({script})}, {"cwd", folder}, {"request", request.toJson().toStdString()}},
                                {{"args", nlohmann::json::array({script, "--check"})}, {"cwd", folder}, {"request", nullptr}}}));

    // A "node" that cannot be started.
    BridgeSurroundings surroundings = bridge.surroundings();
    surroundings.nodeCandidates = {bridge.folder() + "/not-a-program"};
    touch(bridge.folder() + "/not-a-program", kExecutable, "\x7f" "ELF but not really");
    const auto failed = finish(BridgeRunner(surroundings).run<SessionResult>(listSecrets()));
    EXPECT_EQ(failed.processError(), BridgeProcessError::Kind::startFailed) << failed.message().toStdString();
    EXPECT_FALSE(failed.message().isEmpty());
}

TEST_F(BridgeRunnerTest, ConcurrentRunsKeepTheirOwnPipesAndOutliveTheirRunner)
{
    bridge.set("FIXTURE_DELAY_MS", "100");
    std::vector<QCoro::Task<fixture::Outcome<EchoResult>>> tasks;
    {
        const BridgeRunner runner = bridge.runner();
        for (int i = 0; i < 6; ++i)
            tasks.push_back(fixture::capture(runner.run<EchoResult>(listSecrets(i))));
    }
    for (int i = 0; i < 6; ++i) {
        const auto outcome = QCoro::waitFor(tasks[i]);
        ASSERT_TRUE(outcome.value) << outcome.message().toStdString();
        EXPECT_EQ(nlohmann::json::parse(outcome.value->echo.toStdString())["secretId"], i);
    }
    EXPECT_EQ(bridge.log().size(), 6u);
}

TEST_F(BridgeRunnerTest, EveryWayACommandOrCheckEnds)
{
    enum class E { missingBridge, processFailed, bridge, invalidResponse, ok, decoding };   // BridgeError's kinds first
    struct Case {
        const char* name;
        QString out;
        QByteArray err;
        int exitCode;
        E expect;
        QString message;
        const char* mode = "answer";   // "check": the health check instead of a command
    };
    const QString quota = R"({"ok":false,"error":"Quota exceeded"})";
    const QString failed = "Bridge command failed.", invalid = "Bridge returned an invalid response.";
    const std::vector<Case> cases = {
        {"success", kSession, "", 0, E::ok, ""},
        {"failed exit, envelope error wins over stderr", quota, "other", 2, E::bridge, "Quota exceeded"},
        {"failed exit, garbage out, stderr trimmed", "not json", "  word \n", 1, E::processFailed, "word"},
        {"failed exit, blank stderr", "", " \n\t", 1, E::processFailed, failed},
        {"failed exit, stderr not UTF-8", "", "\xff\xfe" "A", 1, E::processFailed, failed},
        {"failed exit, envelope of the wrong shape with error", R"({"ok":false,"result":"x","error":"e"})", "fallback",
         1, E::processFailed, "fallback"},
        {"killed by a signal", "", "dying", 0, E::processFailed, "dying", "crash"},
        {"clean exit, error beats ok and result",
         R"({"ok":true,"result":{"principalId":"p","sessionAddress":"s","expiresAt":"e"},"error":"late"})", "", 0,
         E::bridge, "late"},
        {"clean exit, ok true and result null", R"({"ok":true,"result":null})", "", 0, E::invalidResponse, invalid},
        {"clean exit, empty output", "", "ignored", 0, E::decoding, ""},
        {"check: failed exit keeps stderr untrimmed, output unread", kCheck, "  no node \n", 4, E::processFailed,
         "  no node \n", "check"},
        {"check: failed exit, empty stderr", kCheck, "", 4, E::processFailed, "Bridge check failed.", "check"},
        {"check: clean exit, error ignored when the result is there",
         R"({"ok":true,"error":"x","result":{"sdkVersion":"1","blackboxUrl":"u","node":"n"}})", "", 0, E::ok, "", "check"},
        {"check: clean exit, ok false, even with a result",
         R"({"ok":false,"error":"down","result":{"sdkVersion":"1","blackboxUrl":"u","node":"n"}})", "", 0,
         E::invalidResponse, invalid, "check"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool isCheck = QLatin1String(c.mode) == "check";
        answer(c.out, c.err, c.exitCode, isCheck ? "answer" : c.mode);
        fixture::Outcome<int> outcome;   // only the error matters here
        if (isCheck) {
            outcome.error = finish(bridge.runner().check()).error;
        } else {
            const auto ran = run();
            outcome.error = ran.error;
            if (ran.value) {
                EXPECT_EQ(*ran.value, (SessionResult{"p-1", "s-1", "2030-01-01T00:00:00Z"}));
            }
        }
        const auto* error = outcome.errorAs<BridgeError>();
        const E got = error ? E(int(error->kind())) : outcome.errorAs<BridgeDecodingError>() ? E::decoding : E::ok;
        EXPECT_EQ(got, c.expect) << outcome.message().toStdString();
        EXPECT_EQ(error ? error->message() : "", c.message);
    }

    // Progress and temporary-file lines on standard error never reach the error text.
    answer("", "progress 5 10\nunfinished 0123456789ab\nprogress 10 10\nword\n", 1);
    std::vector<std::pair<qint64, qint64>> reports;
    const auto ran = finish(bridge.runner().run<SessionResult>(listSecrets(), [&](qint64 done, qint64 total) {
        reports.emplace_back(done, total);
    }));
    EXPECT_EQ(ran.message(), "word");
    EXPECT_EQ(reports, (std::vector<std::pair<qint64, qint64>>{{5, 10}, {10, 10}}));
}

TEST_F(BridgeRunnerTest, OnlyTheTemporaryFileAKilledChildNamedIsRemoved)
{
    const auto partial = [&](const char* suffix) { return bridge.folder() + "/.report.pdf." + suffix + ".partial"; };
    BridgeRequest request = listSecrets();
    request.command = QStringLiteral("decryptFile");
    request.outputPath = bridge.folder() + "/report.pdf";
    // The child names bbbbbbbbbbbb; the user's own file and another job's look the same.
    for (const auto& [name, mode, exitCode, namedRemoved] : {std::tuple{"an orderly refusal cleans up itself", "answer", 1, false},
                                                             {"stopped by a signal", "answer", 143, true},
                                                             {"killed outright", "crash", 0, true}}) {
        SCOPED_TRACE(name);
        for (const char* suffix : {"0123456789ab", "aaaaaaaaaaaa", "bbbbbbbbbbbb"})
            touch(partial(suffix));
        answer(R"({"ok":false,"error":"The selected file could not be read."})", "unfinished bbbbbbbbbbbb\n", exitCode, mode);
        EXPECT_FALSE(run(request).value.has_value());
        EXPECT_EQ(std::tuple(QFile::exists(partial("0123456789ab")), QFile::exists(partial("aaaaaaaaaaaa")),
                             QFile::exists(partial("bbbbbbbbbbbb"))), std::tuple(true, true, !namedRemoved));
    }
}

TEST_F(BridgeRunnerTest, EndingOneJobLeavesTheOtherRunsAloneAndQuittingEndsThemAll)
{
    // listSecrets answers after 20 s, createSession after 2 s.
    const QByteArray session = R"("ok":true,"result":{"principalId":"p-1","sessionAddress":"s-1","expiresAt":"e"})";
    touch(bridge.folder() + "/table.json", {},
          R"({"listSecrets":{"delayMs":20000,)" + session + R"(},"createSession":{"delayMs":2000,)" + session + "}}");
    bridge.set("FIXTURE_TABLE", bridge.folder() + "/table.json");
    BridgeRequest sessionRequest = listSecrets();
    sessionRequest.command = QStringLiteral("createSession");
    const BridgeRunner runner = bridge.runner();
    const auto job = std::make_shared<BridgeChildren>();
    auto cancelled = fixture::capture(runner.run<SessionResult>(listSecrets(), {}, job));
    auto other = fixture::capture(runner.run<SessionResult>(sessionRequest));
    QTimer::singleShot(500, [job] { job->terminateAll(); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(QCoro::waitFor(cancelled).value.has_value());
    EXPECT_LT(clock.elapsed(), 10000);
    // A job ended before its child starts ends it at once.
    auto late = fixture::capture(runner.run<SessionResult>(listSecrets(), {}, job));
    EXPECT_FALSE(QCoro::waitFor(late).value.has_value());
    const auto finished = QCoro::waitFor(other);
    EXPECT_TRUE(finished.value.has_value()) << finished.message().toStdString();

    // The application quitting ends every child.
    auto running = fixture::capture(runner.run<SessionResult>(listSecrets()));
    QTimer::singleShot(500, [&runner] { runner.terminateChildren(); });
    clock.restart();
    EXPECT_FALSE(QCoro::waitFor(running).value.has_value());
    EXPECT_LT(clock.elapsed(), 10000);
}

TEST_F(BridgeRunnerTest, ASilentChildIsEnded)
{
    // A child that hangs without output or file traffic (a FIFO, a wedged network call).
    bridge.set("FIXTURE_DELAY_MS", "20000");
    BridgeSurroundings surroundings = bridge.surroundings();
    surroundings.requestSilenceLimit = std::chrono::milliseconds(400);   // a request: no file to write
    QElapsedTimer clock;
    clock.start();
    const auto silent = finish(BridgeRunner(surroundings, QStringLiteral("https://fixture.test:3010")).run<EchoResult>(listSecrets()));
    EXPECT_EQ(silent.processError(), BridgeProcessError::Kind::stoppedResponding) << silent.message().toStdString();
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(BridgeRunnerTest, MebibyteOnBothPipesDoesNotBlockAndAChildThatNeverReadsFailsTheWrite)
{
    answer(R"({"principalId":"p-1","sessionAddress":"s-1","expiresAt":"x"})", {}, 0, "flood");
    const auto outcome = run();
    ASSERT_TRUE(outcome.value) << outcome.message().toStdString();
    EXPECT_EQ(outcome.value->sessionAddress, "s-1");

    // The same flood on a failing exit: standard error comes back whole.
    bridge.set("FIXTURE_EXIT", "1");
    const auto failed = run();
    const auto* error = failed.errorAs<BridgeError>();
    ASSERT_NE(error, nullptr) << failed.message().left(200).toStdString();
    EXPECT_EQ(error->message().size(), 1024 * 1024);

    answer({}, {}, 0, "no-read");
    BridgeRequest large = listSecrets();
    large.password = QString(2 * 1024 * 1024, u'x');   // far more than a pipe holds
    const auto unread = run(large);
    EXPECT_EQ(unread.processError(), BridgeProcessError::Kind::writeFailed) << unread.message().toStdString();
}

} // namespace
