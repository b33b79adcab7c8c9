#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// One command for the bridge script, written as one JSON object to its standard input.
// Only `command` is always written; every other field is left out of the document while it
// has no value.
struct BridgeRequest {
    QString command;
    std::optional<QString> blackboxUrl;
    std::optional<QString> email;
    std::optional<QString> password;
    std::optional<QString> otp;
    std::optional<QString> newPassword;
    std::optional<QString> principalId;
    std::optional<QString> ed25519PrivateKeyHex;
    std::optional<qint64> secretId;
    std::optional<QString> filePath;
    std::optional<QString> outputPath;
    std::optional<QString> jobId;
    std::optional<qint64> ttl;
    std::optional<qint64> intervalMs;
    std::optional<qint64> maxAttempts;

    // Compact UTF-8 JSON, keys in the order of the fields above.
    QByteArray toJson() const;

    bool operator==(const BridgeRequest&) const = default;
};
