// The account flows on their own, without the window's store: the fixture bridge answers from
// a table and the keychain is in memory, as korvo-cli and the store use them.
#include "core/flows/KorvosFlow.h"
#include "core/flows/SignInFlow.h"
#include "fixtures/FixtureBridge.h"
#include "fixtures/TestFiles.h"

#include <gtest/gtest.h>

using json = nlohmann::json;

namespace {
json ok(json result) { return {{"ok", true}, {"result", std::move(result)}}; }

struct Flows {
    fixture::Bridge bridge;
    std::shared_ptr<KeychainBackend> backend = makeInMemoryKeychainBackend();
    AccountServices services;

    explicit Flows(const json& table)
    {
        fixture::ensureApplication();
        testfiles::writeFile(bridge.folder() + "/table.json", QByteArray::fromStdString(table.dump()));
        bridge.set(QStringLiteral("FIXTURE_TABLE"), bridge.folder() + "/table.json");
        services = {std::make_shared<BridgeRunner>(bridge.runner()), std::make_shared<KeychainQueue>(backend), nullptr};
    }
    AccountIdentity saved() const { return KeychainStore(backend).load(); }
    std::vector<std::string> commands() const
    {
        std::vector<std::string> names;
        for (const json& entry : bridge.log())
            names.push_back(json::parse(entry["request"].get<std::string>())["command"]);
        return names;
    }
};
} // namespace

// The first sign-in on a computer replaces the device key and stops; the next one, with the key
// confirmed by the service, opens the session and saves the key as confirmed; the account's
// first Korvo is made and chosen.
TEST(SignInFlow, ReplacesTheDeviceKeyThenSignsInWithIt)
{
    const std::string key = std::string(64, 'c');
    Flows flows({{"verifyCredentials", ok({{"valid", true}, {"principalId", "p1"}})},
                 {"generateKey", ok({{"privateKeyHex", key}, {"publicKeyHex", "pub"}})},
                 {"rotateKey", ok({{"success", true}})},
                 {"createSession", ok({{"principalId", "p1"}, {"sessionAddress", "0x01"}, {"expiresAt", "2030-01-01T00:00:00Z"}})},
                 {"listSecrets", json::array({ok({{"success", true}, {"secrets", json::array()}}),
                                              ok({{"success", true}, {"secrets", {{{"secretId", 31}, {"ownerPrincipalId", "p1"}, {"clusterId", 1}}}}})})},
                 {"createSecret", ok({{"success", true}, {"secretId", 31}, {"clusterId", 1}, {"status", "active"}})}});
    QStringList lines;
    const SignInFlow flow(flows.services, [&](const QString& line) { lines.append(line); });

    const auto first = fixture::finish(flow.verify(" Ana@Example.com ", "password1", std::nullopt));
    ASSERT_NE(first.errorAs<DeviceKeyReplaced>(), nullptr) << first.message().toStdString();
    const AccountIdentity pending{"ana@example.com", "p1", QString::fromStdString(key), std::nullopt, true};
    EXPECT_EQ(first.errorAs<DeviceKeyReplaced>()->identity(), pending);
    EXPECT_EQ(flows.saved(), pending);
    EXPECT_EQ(lines, QStringList{"Restoring private access on this computer..."});

    const auto second = fixture::finish(flow.verify("ana@example.com", "password1", flows.saved()));
    ASSERT_TRUE(second.value) << second.message().toStdString();
    const auto session = fixture::finish(flow.openSession(*second.value));
    ASSERT_TRUE(session.value) << session.message().toStdString();
    EXPECT_EQ(session.value->session.sessionAddress, "0x01");
    EXPECT_EQ(flows.saved().deviceKeyConfirmationPending, std::nullopt);

    const KorvosFlow korvos(flows.services);
    const auto listed = fixture::finish(korvos.refresh(session.value->identity, std::nullopt, true));
    ASSERT_TRUE(listed.value) << listed.message().toStdString();
    EXPECT_EQ(listed.value->choice, 31);
    EXPECT_EQ(listed.value->secrets.size(), 1u);
    EXPECT_EQ(flows.commands(), (std::vector<std::string>{"verifyCredentials", "generateKey", "rotateKey", "verifyCredentials",
                                                          "createSession", "listSecrets", "createSecret", "listSecrets"}));
}
