#include "core/bridge/BridgeRequest.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::ordered_json;

void put(Json& object, const char* key, const std::optional<QString>& value)
{
    if (value)
        object[key] = value->toStdString();
}

void put(Json& object, const char* key, const std::optional<qint64>& value)
{
    if (value)
        object[key] = static_cast<std::int64_t>(*value);
}

} // namespace

QByteArray BridgeRequest::toJson() const
{
    Json object = Json::object();
    object["command"] = command.toStdString();
    put(object, "blackboxUrl", blackboxUrl);
    put(object, "email", email);
    put(object, "password", password);
    put(object, "otp", otp);
    put(object, "newPassword", newPassword);
    put(object, "principalId", principalId);
    put(object, "ed25519PrivateKeyHex", ed25519PrivateKeyHex);
    put(object, "secretId", secretId);
    put(object, "filePath", filePath);
    put(object, "outputPath", outputPath);
    put(object, "jobId", jobId);
    put(object, "ttl", ttl);
    put(object, "intervalMs", intervalMs);
    put(object, "maxAttempts", maxAttempts);
    // QString always converts to well-formed UTF-8 (unpaired surrogates are replaced), so the
    // strict serializer cannot fail here.
    return QByteArray::fromStdString(object.dump());
}
