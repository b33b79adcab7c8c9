// The documents exchanged with the bridge: the request as written, the envelope and every
// result record as read, and the lenient period dates.

#include "core/bridge/BridgeEnvelope.h"
#include "core/bridge/BridgeError.h"
#include "core/bridge/BridgeOutcome.h"
#include "core/bridge/BridgeRequest.h"
#include "core/bridge/BridgeResults.h"
#include "fixtures/TestFiles.h"

#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

template<typename T>
T decodeResult(const std::string& resultJson)
{
    auto envelope = BridgeEnvelope<T>::decode(QByteArray::fromStdString(R"({"ok":true,"result":)" + resultJson + "}"));
    EXPECT_TRUE(envelope.result.has_value());
    return *envelope.result;
}

// The decoding error's sentence, or "" when the document decodes.
template<typename T>
QString failureOf(const std::string& resultJson)
{
    try {
        decodeResult<T>(resultJson);
        return {};
    } catch (const BridgeDecodingError& e) {
        return e.message();
    }
}

QDateTime utc(const char* iso) { return QDateTime::fromString(QString::fromLatin1(iso) + "Z", Qt::ISODateWithMs); }

TEST(BridgeRequestEncoding, OnlySetFieldsInTableOrderOnOneLine)
{
    BridgeRequest request;
    request.command = "listSecrets";
    request.blackboxUrl = "https://b:3010";
    request.secretId = 0;
    EXPECT_EQ(request.toJson(), R"({"command":"listSecrets","blackboxUrl":"https://b:3010","secretId":0})");

    const BridgeRequest full{"c", "u", "e", "p", "o", "n", "pr", "k", 7, "f", "out", "j", 1, 2, 3};
    EXPECT_EQ(full.toJson(), R"({"command":"c","blackboxUrl":"u","email":"e","password":"p","otp":"o","newPassword":"n",)"
                             R"("principalId":"pr","ed25519PrivateKeyHex":"k","secretId":7,"filePath":"f","outputPath":"out",)"
                             R"("jobId":"j","ttl":1,"intervalMs":2,"maxAttempts":3})");

    request.password = QStringLiteral("q\"uo\\te\n\t ä 🔑 \u0001");
    request.filePath = QStringLiteral("/tmp/Ordner mit Leerzeichen/ü.txt");
    const auto parsed = nlohmann::json::parse(request.toJson().toStdString());
    EXPECT_EQ(QString::fromStdString(parsed["password"]), *request.password);
    EXPECT_EQ(QString::fromStdString(parsed["filePath"]), *request.filePath);
    EXPECT_EQ(request.toJson().count('\n'), 0);   // one line, no indentation
}

TEST(BridgeEnvelopeDecoding, ShapesThatDecodeAndThatDoNot)
{
    const std::vector<std::pair<const char*, const char*>> cases = {   // document, "" or what the sentence names
        {R"({"ok":true,"result":null})", ""},
        {R"({"ok":false,"error":null,"result":null,"extra":[1,{"x":2}]})", ""},
        {R"({"ok":true,"result":{"principalId":"p","sessionAddress":"s","expiresAt":"e","more":1}})", ""},
        {R"({"ok":false,"result":"text"})", "\"result\""},
        {R"({"result":null})", "\"ok\""},
        {R"({"ok":null})", "\"ok\""},
        {R"({"ok":1})", "\"ok\""},
        {R"({"ok":false,"error":5})", "\"error\""},
        {R"({"ok":true,"result":{"principalId":"p","sessionAddress":"s"}})", "result.expiresAt"},
        {R"({"ok":true,"result":{"principalId":"p","sessionAddress":"s","expiresAt":7}})", "result.expiresAt"},
        {R"([{"ok":true}])", "object"},
        {R"({"ok":true} trailing)", "JSON"},
        {"", "empty"},
    };
    for (const auto& [json, part] : cases) {
        SCOPED_TRACE(json);
        try {
            BridgeEnvelope<SessionResult>::decode(QByteArray(json));
            EXPECT_STREQ(part, "");
        } catch (const BridgeDecodingError& e) {
            EXPECT_STRNE(part, "");
            EXPECT_TRUE(e.message().contains(QLatin1String(part)) && e.message().endsWith(u'.')) << e.message().toStdString();
        }
    }
}

TEST(BridgeEnvelopeDecoding, NullAndBlankMeanAbsent)
{
    const auto envelope = BridgeEnvelope<SimpleMessageResult>::decode(R"({"ok":true,"result":null,"error":null})");
    EXPECT_TRUE(envelope.ok && !envelope.result && !envelope.error);
    // A failed command whose error is blank still ends with a sentence (found by fuzzing).
    BridgeProcessResult failed;
    failed.exitCode = 1;
    failed.standardOutput = R"({"ok":false,"error":" "})";
    const auto error = testfiles::thrown<KorvoError>([&] { BridgeOutcome::judgeCommand<SimpleMessageResult>(failed); });
    EXPECT_EQ(error ? error->message() : "", "Bridge command failed.");
    // A path is put into the sentence once, never read as a placeholder.
    EXPECT_EQ(BridgeError::missingBridge("/odd/%1/path").message(), "Bridge script was not found at /odd/%1/path.");
}

const std::string kSecretA = R"({"secretId":12,"ownerPrincipalId":"o","clusterId":3,"isSyncing":0,"publicKeyCid":null})";
const std::string kStats = R"({"limit":10.5,"used":2,"remaining":8.5,"count":4,"requestLimit":100,"rateLimit":0.5,)"
                           R"("limitGB":1,"usedGB":0.2,"remainingGB":0.8})";

std::string secrets(const std::string& items) { return R"({"success":true,"secrets":[)" + items + "]}"; }
std::string withCount(const std::string& count)
{
    return R"({"limit":1,"used":1,"remaining":1,"count":)" + count +
           R"(,"requestLimit":1,"rateLimit":1,"limitGB":1,"usedGB":1,"remainingGB":1})";
}

TEST(BridgeRecords, RequiredOptionalAndWrongTypes)
{
    // Name, decoder, result, and "" when it decodes or else a part of the sentence.
    const std::vector<std::tuple<const char*, QString (*)(const std::string&), std::string, const char*>> cases = {
        {"secret without optional texts", failureOf<SecretListResult>, secrets(kSecretA), ""},
        {"secret without clusterId spoils the list", failureOf<SecretListResult>,
         secrets(kSecretA + R"(,{"secretId":13,"ownerPrincipalId":"o"})"), "result.secrets[1].clusterId"},
        {"secrets not a list", failureOf<SecretListResult>, R"({"success":true,"secrets":{}})", "result.secrets"},
        {"count with a fraction", failureOf<UsageStats>, withCount("3.5"), "count"},
        {"count as text", failureOf<UsageStats>, withCount("\"25\""), "whole number"},
        {"count beyond 64 bits", failureOf<UsageStats>, withCount("9223372036854775808"), "count"},
        {"count as 2^63 in floating point", failureOf<UsageStats>, withCount("9.223372036854775808e18"), "count"},
        {"negative count", failureOf<UsageStats>, withCount("-4"), ""},
        {"limit as text", failureOf<UsageStats>, R"({"limit":"1"})", "result.limit"},
        {"list of texts with a number", failureOf<RegisterKeyResult>,
         R"({"principalId":"p","nodeRegistrationStatus":"partial","failedNodes":["a",2]})", "result.failedNodes[1]"},
        {"null list is absent", failureOf<RegisterKeyResult>,
         R"({"principalId":"p","nodeRegistrationStatus":"complete","nodeErrors":null})", ""},
        {"boolean given as number", failureOf<VerifyEmailResult>, R"({"principalId":"p","emailVerified":1})", "emailVerified"},
        {"required text null", failureOf<GeneratedKey>, R"({"privateKeyHex":null,"publicKeyHex":"b"})", "privateKeyHex"},
        {"record not an object", failureOf<FileJobResult>, R"(["j","s"])", "result"},
    };
    for (const auto& [name, tryDecode, json, expected] : cases) {
        const QString failure = tryDecode(json);
        EXPECT_TRUE(*expected ? failure.contains(QLatin1String(expected)) : failure.isEmpty()) << name << ": " << failure.toStdString();
    }
}

TEST(BridgeRecords, ValuesAreReadAsWritten)
{
    const KorvoSecret secret{12, "o", std::nullopt, 0, 3, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    EXPECT_EQ(decodeResult<SecretListResult>(secrets(kSecretA)).secrets, std::vector{secret});
    // Written back with the same keys, absent ones left out, and read again unchanged.
    EXPECT_EQ(secret.toJson().dump(), R"({"secretId":12,"ownerPrincipalId":"o","isSyncing":0,"clusterId":3})");
    EXPECT_EQ(decodeResult<SecretListResult>(secrets(secret.toJson().dump())).secrets[0], secret);

    EXPECT_EQ(decodeResult<UsageStats>(kStats), (UsageStats{10.5, 2, 8.5, 4, 100, 0.5, 1, 0.2, 0.8}));
    EXPECT_EQ(decodeResult<UsageStats>(withCount("25.0")).count, 25);
}

TEST(ConsumptionPeriodDates, TimestampsAndIsoDateTimes)
{
    const QDateTime instant = utc("2023-11-14T22:13:20.000");
    const std::vector<std::pair<std::string, QDateTime>> cases = {
        {"1700000000", instant},
        {"1700000000000", instant},
        {"\"1700000000\"", instant},
        {"1700000000.25", instant.addMSecs(250)},
        // The boundary: exactly 1e10 is seconds (year 2286), just above it is milliseconds.
        {"10000000000", QDateTime::fromSecsSinceEpoch(10000000000LL, QTimeZone::utc())},
        {"10000000001", QDateTime::fromMSecsSinceEpoch(10000000001LL, QTimeZone::utc())},
        {"\"2024-05-01T12:30:00Z\"", utc("2024-05-01T12:30:00.000")},
        {"\"2024-05-01T12:30:00.123456Z\"", utc("2024-05-01T12:30:00.123")},
        {"\"2024-05-01T00:15:00-01:30\"", utc("2024-05-01T01:45:00.000")},
    };
    for (const auto& [json, expected] : cases)
        EXPECT_EQ(ConsumptionPeriodDate::decode(nlohmann::json::parse(json)).date, expected) << json;
}

TEST(ConsumptionPeriodDates, Rejections)
{
    const QString unrecognised = "Expected an ISO date or Unix timestamp.", notFinite = "Timestamp must be finite.";
    const std::vector<std::pair<std::string, QString>> cases = {
        {"\" 1700000000\"", unrecognised},      // a leading blank makes it no number
        {"\"1700000000 \"", unrecognised},
        {"\"2024-05-01T12:30:00\"", unrecognised}, // no zone
        {"\"2024-02-30T00:00:00Z\"", unrecognised}, // matches the pattern, no such day
        {"null", unrecognised},
        {"\"nan\"", notFinite},
        {"1e300", unrecognised},                 // finite, but beyond any date
    };
    for (const auto& [json, expected] : cases) {
        const auto error = testfiles::thrown<BridgeDecodingError>([&json = json] { ConsumptionPeriodDate::decode(nlohmann::json::parse(json)); });
        EXPECT_EQ(error ? error->message() : "accepted", expected) << json;
    }
}

TEST(ConsumptionPeriodDates, ABadPeriodSpoilsTheWholeResult)
{
    const std::string base = R"({"userId":"u","userType":"t","planId":"p","cycleType":"monthly",)"
                             R"("encryption":)" + kStats + R"(,"decryption":)" + kStats;
    EXPECT_EQ(decodeResult<DataConsumptionResult>(base + R"(,"periodStart":1700000000,"periodEnd":"2024-05-01T00:00:00Z"})")
                  .periodEnd.date, utc("2024-05-01T00:00:00.000"));
    EXPECT_EQ(failureOf<DataConsumptionResult>(base + R"(,"periodStart":"soon","periodEnd":1})"), "Expected an ISO date or Unix timestamp.");
    EXPECT_TRUE(failureOf<DataConsumptionResult>(base + R"(,"periodEnd":1})").contains("periodStart"));
}

} // namespace
