#include "core/KeychainStore.h"

#include <nlohmann/json.hpp>

#include <limits>

namespace {

using Json = nlohmann::ordered_json;

const char* const emailKey = "email";
const char* const principalIdKey = "principalId";
const char* const privateKeyKey = "ed25519PrivateKeyHex";
const char* const selectedSecretIdKey = "selectedSecretId";
const char* const pendingKey = "deviceKeyConfirmationPending";

QString requiredString(const Json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        throw KeychainStoreError::decodeFailed();
    return QString::fromStdString(it->get<std::string>());
}

// A missing key and null both mean "not set"; any other type than T is a decoding failure.
template <typename T>
std::optional<T> optionalValue(const Json& object, const char* key)
{
    const auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return std::nullopt;
    if constexpr (std::is_same_v<T, bool>) {
        if (!it->is_boolean())
            throw KeychainStoreError::decodeFailed();
        return it->get<bool>();
    } else {
        if (it->is_number_unsigned()) {
            const auto value = it->get<std::uint64_t>();
            if (value > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))
                throw KeychainStoreError::decodeFailed();
            return static_cast<qint64>(value);
        }
        if (!it->is_number_integer())
            throw KeychainStoreError::decodeFailed();
        return it->get<qint64>();
    }
}

} // namespace

QByteArray AccountIdentity::toJson() const
{
    try {
        Json object = Json::object();
        object[emailKey] = email.toStdString();
        object[principalIdKey] = principalId.toStdString();
        object[privateKeyKey] = ed25519PrivateKeyHex.toStdString();
        if (selectedSecretId)
            object[selectedSecretIdKey] = *selectedSecretId;
        if (deviceKeyConfirmationPending)
            object[pendingKey] = *deviceKeyConfirmationPending;
        return QByteArray::fromStdString(object.dump());
    } catch (const nlohmann::json::exception&) {
        throw KeychainStoreError::encodeFailed();
    }
}

AccountIdentity AccountIdentity::fromJson(const QByteArray& json)
{
    const Json object = Json::parse(json.constBegin(), json.constEnd(), nullptr, false);
    if (!object.is_object())
        throw KeychainStoreError::decodeFailed();
    AccountIdentity identity;
    identity.email = requiredString(object, emailKey);
    identity.principalId = requiredString(object, principalIdKey);
    identity.ed25519PrivateKeyHex = requiredString(object, privateKeyKey);
    identity.selectedSecretId = optionalValue<qint64>(object, selectedSecretIdKey);
    identity.deviceKeyConfirmationPending = optionalValue<bool>(object, pendingKey);
    return identity;
}
