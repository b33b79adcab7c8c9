// The documents exchanged with the bridge: the request as written, the envelope and every
// result record as read, and the lenient period dates.

#include "core/bridge/BridgeEnvelope.h"
#include "core/bridge/BridgeError.h"
#include "core/bridge/BridgeOutcome.h"
#include "core/bridge/BridgeRequest.h"
#include "core/bridge/BridgeResults.h"

#include <QTimeZone>

#include <gtest/gtest.h>

#include <functional>

namespace {

using OrderedJson = nlohmann::ordered_json;

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

QDateTime utc(const char* iso)
{
    QDateTime date = QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
    date.setTimeZone(QTimeZone::utc());
    return date;
}

// ---- request ---------------------------------------------------------------------------------

TEST(BridgeRequestEncoding, OnlySetFieldsAreWrittenInTableOrder)
{
    BridgeRequest request;
    request.command = "listSecrets";
    request.blackboxUrl = "https://b:3010";
    EXPECT_EQ(request.toJson(), R"({"command":"listSecrets","blackboxUrl":"https://b:3010"})");

    request.secretId = 0;
    EXPECT_EQ(request.toJson(), R"({"command":"listSecrets","blackboxUrl":"https://b:3010","secretId":0})");

    BridgeRequest full{"c", "u", "e", "p", "o", "n", "pr", "k", 7, "f", "out", "j", 1, 2, 3};
    std::vector<std::string> keys;
    const OrderedJson parsed = OrderedJson::parse(full.toJson().toStdString());
    for (const auto& item : parsed.items())
        keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"command", "blackboxUrl", "email", "password", "otp",
                                              "newPassword", "principalId", "ed25519PrivateKeyHex",
                                              "secretId", "filePath", "outputPath", "jobId", "ttl",
                                              "intervalMs", "maxAttempts"}));
}

TEST(BridgeRequestEncoding, TextsSurviveTheTrip)
{
    BridgeRequest request;
    request.command = "register";
    request.password = QStringLiteral("q\"uo\\te\n\t ä 🔑 \u0001");
    request.filePath = QStringLiteral("/tmp/Ordner mit Leerzeichen/ü.txt");
    const auto parsed = nlohmann::json::parse(request.toJson().toStdString());
    EXPECT_EQ(QString::fromStdString(parsed["password"]), *request.password);
    EXPECT_EQ(QString::fromStdString(parsed["filePath"]), *request.filePath);
    EXPECT_EQ(request.toJson().count('\n'), 0);   // one line, no indentation
}

// ---- envelope --------------------------------------------------------------------------------

TEST(BridgeEnvelopeDecoding, ShapesThatDecodeAndThatDoNot)
{
    struct Case {
        const char* json;
        bool decodes;
        const char* messagePart;   // for failures: what the sentence must name
    };
    const std::vector<Case> cases = {
        {R"({"ok":true,"result":null})", true, ""},
        {R"({"ok":false,"error":null,"result":null,"extra":[1,{"x":2}]})", true, ""},
        {R"({"ok":true,"result":{"principalId":"p","sessionAddress":"s","expiresAt":"e","more":1}})", true, ""},
        {R"({"ok":false,"result":"text"})", false, "\"result\""},
        {R"({"result":null})", false, "\"ok\""},
        {R"({"ok":null})", false, "\"ok\""},
        {R"({"ok":"true"})", false, "\"ok\""},
        {R"({"ok":1})", false, "\"ok\""},
        {R"({"OK":true})", false, "\"ok\""},
        {R"({"ok":false,"error":5})", false, "\"error\""},
        {R"({"ok":true,"result":{"principalId":"p","sessionAddress":"s"}})", false, "result.expiresAt"},
        {R"({"ok":true,"result":{"principalId":"p","sessionAddress":"s","expiresAt":7}})", false, "result.expiresAt"},
        {R"([{"ok":true}])", false, "object"},
        {R"({"ok":true} trailing)", false, "JSON"},
        {"", false, "empty"},
        {"\n  \n", false, "empty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        try {
            BridgeEnvelope<SessionResult>::decode(QByteArray(c.json));
            EXPECT_TRUE(c.decodes);
        } catch (const BridgeDecodingError& e) {
            EXPECT_FALSE(c.decodes);
            EXPECT_TRUE(e.message().contains(QLatin1String(c.messagePart))) << e.message().toStdString();
            EXPECT_TRUE(e.message().endsWith(u'.'));
        }
    }
}

TEST(BridgeEnvelopeDecoding, NullMeansAbsent)
{
    const auto envelope = BridgeEnvelope<SimpleMessageResult>::decode(R"({"ok":true,"result":null,"error":null})");
    EXPECT_TRUE(envelope.ok);
    EXPECT_FALSE(envelope.result);
    EXPECT_FALSE(envelope.error);
    // ... and is then no success.
    BridgeProcessResult process{true, 0, R"({"ok":true,"result":null})", {}};
    try {
        BridgeOutcome::judgeCommand<SimpleMessageResult>(process);
        FAIL();
    } catch (const BridgeError& e) {
        EXPECT_EQ(e.kind(), BridgeError::Kind::invalidResponse);
        EXPECT_EQ(e.message(), "Bridge returned an invalid response.");
    }
}

TEST(BridgeErrorText, Sentences)
{
    EXPECT_EQ(BridgeError::missingBridge("/opt/korvo/bridge/korvo-bridge.mjs").message(),
              "Bridge script was not found at /opt/korvo/bridge/korvo-bridge.mjs.");
    EXPECT_EQ(BridgeError::missingBridge("/odd/%1/path").message(), "Bridge script was not found at /odd/%1/path.");
    EXPECT_EQ(BridgeError::bridge("fetch failed").message(), "fetch failed");
    const KorvoError& base = BridgeError::processFailed("x");
    EXPECT_STREQ(base.what(), "x");
}

// ---- result records --------------------------------------------------------------------------

const std::string kSecretA =
    R"({"secretId":12,"ownerPrincipalId":"o","clusterId":3,"isSyncing":0,"publicKeyCid":null})";
const std::string kSecretNoCluster = R"({"secretId":13,"ownerPrincipalId":"o"})";
const std::string kStats =
    R"({"limit":10.5,"used":2,"remaining":8.5,"count":4,"requestLimit":100,"rateLimit":0.5,)"
    R"("limitGB":1,"usedGB":0.2,"remainingGB":0.8})";

std::string withCount(const std::string& count)
{
    return R"({"limit":1,"used":1,"remaining":1,"count":)" + count +
           R"(,"requestLimit":1,"rateLimit":1,"limitGB":1,"usedGB":1,"remainingGB":1})";
}

TEST(BridgeRecords, RequiredOptionalAndWrongTypes)
{
    struct Case {
        const char* name;
        std::function<QString()> failure;
        const char* expected;   // "" = decodes; otherwise a part of the sentence
    };
    const std::vector<Case> cases = {
        {"secret without optional texts", [] { return failureOf<SecretListResult>(R"({"success":true,"secrets":[)" + kSecretA + "]}"); }, ""},
        {"secret without clusterId spoils the list",
         [] { return failureOf<SecretListResult>(R"({"success":true,"secrets":[)" + kSecretA + "," + kSecretNoCluster + "]}"); },
         "result.secrets[1].clusterId"},
        {"secrets not a list", [] { return failureOf<SecretListResult>(R"({"success":true,"secrets":{}})"); }, "result.secrets"},
        {"empty list", [] { return failureOf<SecretListResult>(R"({"success":false,"secrets":[]})"); }, ""},
        {"count with a fraction", [] { return failureOf<UsageStats>(withCount("3.5")); }, "count"},
        {"count written as 25.0", [] { return failureOf<UsageStats>(withCount("25.0")); }, ""},
        {"count as text", [] { return failureOf<UsageStats>(withCount("\"25\"")); }, "whole number"},
        {"count as boolean", [] { return failureOf<UsageStats>(withCount("true")); }, "whole number"},
        {"count beyond 64 bits", [] { return failureOf<UsageStats>(withCount("9223372036854775808")); }, "count"},
        {"count at the 64-bit limit", [] { return failureOf<UsageStats>(withCount("9223372036854775807")); }, ""},
        {"count as 2^63 in floating point", [] { return failureOf<UsageStats>(withCount("9.223372036854775808e18")); }, "count"},
        {"negative count", [] { return failureOf<UsageStats>(withCount("-4")); }, ""},
        {"fractional limit", [] { return failureOf<UsageStats>(kStats); }, ""},
        {"limit as text", [] { return failureOf<UsageStats>(R"({"limit":"1"})"); }, "result.limit"},
        {"list of texts with a number",
         [] { return failureOf<RegisterKeyResult>(R"({"principalId":"p","nodeRegistrationStatus":"partial","failedNodes":["a",2]})"); },
         "result.failedNodes[1]"},
        {"null list is absent",
         [] { return failureOf<RegisterKeyResult>(R"({"principalId":"p","nodeRegistrationStatus":"complete","nodeErrors":null})"); }, ""},
        {"boolean given as number", [] { return failureOf<VerifyEmailResult>(R"({"principalId":"p","emailVerified":1})"); }, "emailVerified"},
        {"required text null", [] { return failureOf<GeneratedKey>(R"({"privateKeyHex":null,"publicKeyHex":"b"})"); }, "privateKeyHex"},
        {"record not an object", [] { return failureOf<FileJobResult>(R"(["j","s"])"); }, "result"},
        {"file job without optional paths", [] { return failureOf<FileJobResult>(R"({"jobId":"j","status":"done"})"); }, ""},
        {"public key secretId fractional",
         [] { return failureOf<KorvoPublicKeyResult>(R"({"chainId":1,"secretId":4.2,"publicKey":"k"})"); }, "secretId"},
        {"check result missing node", [] { return failureOf<BridgeCheckResult>(R"({"sdkVersion":"1","blackboxUrl":"u"})"); }, "node"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString failure = c.failure();
        if (*c.expected == '\0')
            EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
        else
            EXPECT_TRUE(failure.contains(QLatin1String(c.expected))) << failure.toStdString();
    }
}

TEST(BridgeRecords, ValuesAreReadAsWritten)
{
    const auto list = decodeResult<SecretListResult>(R"({"success":true,"secrets":[)" + kSecretA + "]}");
    ASSERT_EQ(list.secrets.size(), 1u);
    const KorvoSecret& secret = list.secrets[0];
    EXPECT_EQ(secret.secretId, 12);
    EXPECT_EQ(secret.clusterId, 3);
    EXPECT_EQ(secret.isSyncing, 0);
    EXPECT_FALSE(secret.publicKeyCid);
    EXPECT_FALSE(secret.secretType);

    // Written back with the same keys, absent ones left out, and read again unchanged.
    EXPECT_EQ(secret.toJson().dump(), R"({"secretId":12,"ownerPrincipalId":"o","isSyncing":0,"clusterId":3})");
    EXPECT_EQ(decodeResult<SecretListResult>(R"({"success":true,"secrets":[)" + secret.toJson().dump() + "]}").secrets[0], secret);

    const auto stats = decodeResult<UsageStats>(kStats);
    EXPECT_EQ(stats, (UsageStats{10.5, 2, 8.5, 4, 100, 0.5, 1, 0.2, 0.8}));
    EXPECT_EQ(decodeResult<UsageStats>(withCount("25.0")).count, 25);
}

// ---- period dates ----------------------------------------------------------------------------

QString periodFailure(const std::string& value)
{
    try {
        ConsumptionPeriodDate::decode(nlohmann::json::parse(value));
        return {};
    } catch (const BridgeDecodingError& e) {
        return e.message();
    }
}

QDateTime period(const std::string& value)
{
    return ConsumptionPeriodDate::decode(nlohmann::json::parse(value)).date;
}

TEST(ConsumptionPeriodDates, TimestampsInSecondsAndMilliseconds)
{
    const QDateTime instant = utc("2023-11-14T22:13:20.000");
    EXPECT_EQ(period("1700000000"), instant);
    EXPECT_EQ(period("1700000000000"), instant);
    EXPECT_EQ(period("1700000000000.0"), instant);
    EXPECT_EQ(period("\"1700000000\""), instant);
    EXPECT_EQ(period("\"1.7e9\""), instant);
    EXPECT_EQ(period("1700000000.25"), instant.addMSecs(250));
    EXPECT_EQ(period("0"), utc("1970-01-01T00:00:00.000"));
    EXPECT_EQ(period("-86400"), utc("1969-12-31T00:00:00.000"));

    // The boundary: exactly 1e10 is seconds (year 2286), just above it is milliseconds.
    EXPECT_EQ(period("10000000000").toSecsSinceEpoch(), 10000000000LL);
    EXPECT_EQ(period("10000000001").toMSecsSinceEpoch(), 10000000001LL);
    EXPECT_EQ(period("\"10000000000\"").toSecsSinceEpoch(), 10000000000LL);
}

TEST(ConsumptionPeriodDates, IsoDateTimes)
{
    EXPECT_EQ(period("\"2024-05-01T12:30:00Z\""), utc("2024-05-01T12:30:00.000"));
    EXPECT_EQ(period("\"2024-05-01T12:30:00.250Z\""), utc("2024-05-01T12:30:00.250"));
    EXPECT_EQ(period("\"2024-05-01T12:30:00.123456Z\""), utc("2024-05-01T12:30:00.123"));
    EXPECT_EQ(period("\"2024-05-01T14:30:00+02:00\""), utc("2024-05-01T12:30:00.000"));
    EXPECT_EQ(period("\"2024-05-01T00:15:00-01:30\""), utc("2024-05-01T01:45:00.000"));
}

TEST(ConsumptionPeriodDates, Rejections)
{
    const QString unrecognised = "Expected an ISO date or Unix timestamp.";
    const QString notFinite = "Timestamp must be finite.";
    const std::vector<std::pair<std::string, QString>> cases = {
        {"\" 1700000000\"", unrecognised},      // a leading blank makes it no number
        {"\"1700000000 \"", unrecognised},
        {"\"\"", unrecognised},
        {"\"2024-05-01\"", unrecognised},        // a date without a time
        {"\"2024-05-01T12:30Z\"", unrecognised}, // no seconds
        {"\"2024-05-01T12:30:00\"", unrecognised}, // no zone
        {"\"2024-02-30T00:00:00Z\"", unrecognised},
        {"\"2024-05-01T24:00:00Z\"", unrecognised},
        {"\"yesterday\"", unrecognised},
        {"null", unrecognised},
        {"true", unrecognised},
        {"{\"date\":1700000000}", unrecognised},
        {"[1700000000]", unrecognised},
        {"\"nan\"", notFinite},
        {"\"NaN\"", notFinite},
        {"\"inf\"", notFinite},
        {"\"-Infinity\"", notFinite},
        {"\"1e400\"", notFinite},
    };
    for (const auto& [json, expected] : cases) {
        SCOPED_TRACE(json);
        EXPECT_EQ(periodFailure(json), expected);
    }
}

TEST(ConsumptionPeriodDates, ABadPeriodSpoilsTheWholeResult)
{
    const std::string base = R"({"userId":"u","userType":"t","planId":"p","cycleType":"monthly",)"
                             R"("encryption":)" + kStats + R"(,"decryption":)" + kStats;
    const auto ok = decodeResult<DataConsumptionResult>(base + R"(,"periodStart":1700000000,"periodEnd":"2024-05-01T00:00:00Z"})");
    EXPECT_EQ(ok.periodStart.date, utc("2023-11-14T22:13:20.000"));
    EXPECT_EQ(ok.periodEnd.date, utc("2024-05-01T00:00:00.000"));
    EXPECT_EQ(failureOf<DataConsumptionResult>(base + R"(,"periodStart":"soon","periodEnd":1})"), "Expected an ISO date or Unix timestamp.");
    EXPECT_EQ(failureOf<DataConsumptionResult>(base + R"(,"periodStart":null,"periodEnd":1})"), "Expected an ISO date or Unix timestamp.");
    EXPECT_TRUE(failureOf<DataConsumptionResult>(base + R"(,"periodEnd":1})").contains("periodStart"));
}

} // namespace
