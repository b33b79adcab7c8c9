#include "core/bridge/BridgeResults.h"

#include "core/bridge/JsonReader.h"

// Braced initialisation evaluates left to right, so the first faulty key in table order is
// the one reported.

RegisterResult RegisterResult::decode(const JsonReader& json)
{
    return {json.text("principalId"), json.optionalText("message")};
}

VerifyEmailResult VerifyEmailResult::decode(const JsonReader& json)
{
    return {json.text("principalId"), json.boolean("emailVerified")};
}

SimpleMessageResult SimpleMessageResult::decode(const JsonReader& json)
{
    return {json.optionalText("message")};
}

GeneratedKey GeneratedKey::decode(const JsonReader& json)
{
    return {json.text("privateKeyHex"), json.text("publicKeyHex")};
}

RegisterKeyResult RegisterKeyResult::decode(const JsonReader& json)
{
    return {json.text("principalId"), json.optionalText("emailHex"),
            json.text("nodeRegistrationStatus"), json.optionalTextList("failedNodes"),
            json.optionalTextList("nodeErrors")};
}

VerifyCredentialsResult VerifyCredentialsResult::decode(const JsonReader& json)
{
    return {json.boolean("valid"), json.text("principalId")};
}

SessionResult SessionResult::decode(const JsonReader& json)
{
    return {json.text("principalId"), json.text("sessionAddress"), json.text("expiresAt")};
}

RotateKeyResult RotateKeyResult::decode(const JsonReader& json)
{
    return {json.boolean("success"), json.optionalText("permitId")};
}

KorvoSecret KorvoSecret::decode(const JsonReader& json)
{
    return {json.integer("secretId"),          json.text("ownerPrincipalId"),
            json.optionalText("delegatePrincipalId"), json.optionalInteger("isSyncing"),
            json.integer("clusterId"),         json.optionalInteger("secretType"),
            json.optionalText("publicKeyCid"), json.optionalText("createdAt"),
            json.optionalText("updatedAt")};
}

nlohmann::ordered_json KorvoSecret::toJson() const
{
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    const auto putText = [&](const char* key, const std::optional<QString>& value) {
        if (value)
            object[key] = value->toStdString();
    };
    const auto putInteger = [&](const char* key, const std::optional<qint64>& value) {
        if (value)
            object[key] = static_cast<std::int64_t>(*value);
    };
    putInteger("secretId", secretId);
    putText("ownerPrincipalId", ownerPrincipalId);
    putText("delegatePrincipalId", delegatePrincipalId);
    putInteger("isSyncing", isSyncing);
    putInteger("clusterId", clusterId);
    putInteger("secretType", secretType);
    putText("publicKeyCid", publicKeyCid);
    putText("createdAt", createdAt);
    putText("updatedAt", updatedAt);
    return object;
}

SecretListResult SecretListResult::decode(const JsonReader& json)
{
    return {json.boolean("success"), json.records<KorvoSecret>("secrets")};
}

CreateSecretResult CreateSecretResult::decode(const JsonReader& json)
{
    return {json.boolean("success"), json.integer("secretId"), json.integer("clusterId"),
            json.optionalText("publicKeyCid"), json.text("status")};
}

UsageStats UsageStats::decode(const JsonReader& json)
{
    return {json.number("limit"),       json.number("used"),      json.number("remaining"),
            json.integer("count"),      json.integer("requestLimit"), json.number("rateLimit"),
            json.number("limitGB"),     json.number("usedGB"),    json.number("remainingGB")};
}

DataConsumptionResult DataConsumptionResult::decode(const JsonReader& json)
{
    return {json.text("userId"),
            json.text("userType"),
            json.text("planId"),
            json.text("cycleType"),
            ConsumptionPeriodDate::decode(json.present("periodStart")),
            ConsumptionPeriodDate::decode(json.present("periodEnd")),
            json.record<UsageStats>("encryption"),
            json.record<UsageStats>("decryption")};
}

ConfirmAccountDeletionResult ConfirmAccountDeletionResult::decode(const JsonReader& json)
{
    return {json.boolean("success"), json.optionalText("message")};
}

KorvoPublicKeyResult KorvoPublicKeyResult::decode(const JsonReader& json)
{
    return {json.integer("chainId"), json.integer("secretId"), json.text("publicKey")};
}

FileJobResult FileJobResult::decode(const JsonReader& json)
{
    return {json.text("jobId"), json.text("status"), json.optionalText("resultFileName"),
            json.optionalText("outputPath")};
}

BridgeCheckResult BridgeCheckResult::decode(const JsonReader& json)
{
    return {json.text("sdkVersion"), json.text("blackboxUrl"), json.text("node")};
}
