#pragma once

#include "core/bridge/ConsumptionPeriodDate.h"

#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <optional>
#include <vector>

class JsonReader;

// The result records that travel in a bridge envelope's `result`, one per command. Each reads
// itself strictly from its JSON object (see JsonReader): required keys must be present and of
// the right type, optional ones may be absent or null, unknown keys are ignored.

struct RegisterResult {
    QString principalId;
    std::optional<QString> message;
    static RegisterResult decode(const JsonReader& json);
};

struct VerifyEmailResult {
    QString principalId;
    bool emailVerified = false;
    static VerifyEmailResult decode(const JsonReader& json);
};

struct SimpleMessageResult {
    std::optional<QString> message;
    static SimpleMessageResult decode(const JsonReader& json);
};

struct GeneratedKey {
    QString privateKeyHex;
    QString publicKeyHex;
    static GeneratedKey decode(const JsonReader& json);
};

struct RegisterKeyResult {
    QString principalId;
    std::optional<QString> emailHex;
    QString nodeRegistrationStatus;
    std::optional<QStringList> failedNodes;
    std::optional<QStringList> nodeErrors;
    static RegisterKeyResult decode(const JsonReader& json);
};

struct VerifyCredentialsResult {
    bool valid = false;
    QString principalId;
    static VerifyCredentialsResult decode(const JsonReader& json);
};

struct SessionResult {
    QString principalId;
    QString sessionAddress;
    QString expiresAt;
    static SessionResult decode(const JsonReader& json);
    bool operator==(const SessionResult&) const = default;
};

struct RotateKeyResult {
    bool success = false;
    std::optional<QString> permitId;
    static RotateKeyResult decode(const JsonReader& json);
};

// One Korvo of the user.
struct KorvoSecret {
    qint64 secretId = 0;
    QString ownerPrincipalId;
    std::optional<QString> delegatePrincipalId;
    std::optional<qint64> isSyncing;
    qint64 clusterId = 0;
    std::optional<qint64> secretType;
    std::optional<QString> publicKeyCid;
    std::optional<QString> createdAt;
    std::optional<QString> updatedAt;
    static KorvoSecret decode(const JsonReader& json);
    // The same keys, absent optional fields left out.
    nlohmann::ordered_json toJson() const;
    bool operator==(const KorvoSecret&) const = default;
};

struct SecretListResult {
    bool success = false;
    std::vector<KorvoSecret> secrets;
    static SecretListResult decode(const JsonReader& json);
};

struct CreateSecretResult {
    bool success = false;
    qint64 secretId = 0;
    qint64 clusterId = 0;
    std::optional<QString> publicKeyCid;
    QString status;
    static CreateSecretResult decode(const JsonReader& json);
};

// One direction of use (protecting or opening) in the current period.
struct UsageStats {
    double limit = 0;
    double used = 0;
    double remaining = 0;
    qint64 count = 0;
    qint64 requestLimit = 0;
    double rateLimit = 0;
    double limitGB = 0;
    double usedGB = 0;
    double remainingGB = 0;
    static UsageStats decode(const JsonReader& json);
    bool operator==(const UsageStats&) const = default;
};

struct DataConsumptionResult {
    QString userId;
    QString userType;
    QString planId;
    QString cycleType;
    ConsumptionPeriodDate periodStart;
    ConsumptionPeriodDate periodEnd;
    UsageStats encryption;
    UsageStats decryption;
    static DataConsumptionResult decode(const JsonReader& json);
};

struct ConfirmAccountDeletionResult {
    bool success = false;
    std::optional<QString> message;
    static ConfirmAccountDeletionResult decode(const JsonReader& json);
};

struct KorvoPublicKeyResult {
    qint64 chainId = 0;
    qint64 secretId = 0;
    QString publicKey;
    static KorvoPublicKeyResult decode(const JsonReader& json);
};

struct FileJobResult {
    QString jobId;
    QString status;
    std::optional<QString> resultFileName;
    std::optional<QString> outputPath;
    static FileJobResult decode(const JsonReader& json);
};

// The answer to the health check.
struct BridgeCheckResult {
    QString sdkVersion;
    QString blackboxUrl;
    QString node;
    static BridgeCheckResult decode(const JsonReader& json);
    bool operator==(const BridgeCheckResult&) const = default;
};
