#include "core/bridge/JsonReader.h"

#include "core/bridge/BridgeError.h"

#include <cmath>
#include <limits>

namespace {

const QString kNotJson = QStringLiteral("The bridge's answer is not valid JSON.");
const QString kEmpty = QStringLiteral("The bridge's answer is empty.");
const QString kRootNotObject = QStringLiteral("The bridge's answer is not a JSON object.");
const QString kMissing = QStringLiteral("The bridge's answer has no value \"%1\".");
const QString kWrongType = QStringLiteral("The value \"%1\" in the bridge's answer is not %2.");

const QString kAnObject = QStringLiteral("an object");
const QString kAText = QStringLiteral("a text");
const QString kABoolean = QStringLiteral("true or false");
const QString kAWholeNumber = QStringLiteral("a whole number");
const QString kANumber = QStringLiteral("a number");
const QString kAList = QStringLiteral("a list");

[[noreturn]] void wrongType(const std::string& path, const QString& expected)
{
    throw BridgeDecodingError(kWrongType.arg(QString::fromStdString(path), expected));
}

QString readText(const nlohmann::json& value, const std::string& path)
{
    if (!value.is_string())
        wrongType(path, kAText);
    return QString::fromStdString(value.get_ref<const std::string&>());
}

bool readBoolean(const nlohmann::json& value, const std::string& path)
{
    if (!value.is_boolean())
        wrongType(path, kABoolean);
    return value.get<bool>();
}

qint64 readInteger(const nlohmann::json& value, const std::string& path)
{
    if (value.is_number_unsigned()) {
        const auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max()))
            wrongType(path, kAWholeNumber);
        return static_cast<qint64>(unsignedValue);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double x = value.get<double>();
        // 2^63 is exactly representable; anything at or beyond it does not fit.
        constexpr double limit = 9223372036854775808.0;
        if (std::isfinite(x) && std::trunc(x) == x && x >= -limit && x < limit)
            return static_cast<qint64>(x);
    }
    wrongType(path, kAWholeNumber);
}

double readNumber(const nlohmann::json& value, const std::string& path)
{
    if (!value.is_number())
        wrongType(path, kANumber);
    return value.get<double>();
}

} // namespace

nlohmann::json JsonReader::parse(const QByteArray& bytes)
{
    if (bytes.trimmed().isEmpty())
        throw BridgeDecodingError(kEmpty);
    try {
        return nlohmann::json::parse(bytes.constBegin(), bytes.constEnd());
    } catch (const nlohmann::json::exception&) {
        throw BridgeDecodingError(kNotJson);
    }
}

JsonReader::JsonReader(const nlohmann::json& value, std::string path)
    : m_object(value), m_path(std::move(path))
{
    if (!value.is_object()) {
        if (m_path.empty())
            throw BridgeDecodingError(kRootNotObject);
        wrongType(m_path, kAnObject);
    }
}

const nlohmann::json& JsonReader::required(const char* key) const
{
    const nlohmann::json& value = present(key);
    if (value.is_null())
        throw BridgeDecodingError(kMissing.arg(QString::fromStdString(childPath(key))));
    return value;
}

const nlohmann::json& JsonReader::present(const char* key) const
{
    const auto it = m_object.find(key);
    if (it == m_object.end())
        throw BridgeDecodingError(kMissing.arg(QString::fromStdString(childPath(key))));
    return *it;
}

const nlohmann::json* JsonReader::optional(const char* key) const
{
    const auto it = m_object.find(key);
    if (it == m_object.end() || it->is_null())
        return nullptr;
    return &*it;
}

std::string JsonReader::childPath(const char* key) const
{
    return m_path.empty() ? std::string(key) : m_path + "." + key;
}

std::string JsonReader::elementPath(const char* key, std::size_t index) const
{
    return childPath(key) + "[" + std::to_string(index) + "]";
}

const nlohmann::json& JsonReader::requireList(const nlohmann::json& value, const std::string& path)
{
    if (!value.is_array())
        wrongType(path, kAList);
    return value;
}

QString JsonReader::text(const char* key) const
{
    return readText(required(key), childPath(key));
}

std::optional<QString> JsonReader::optionalText(const char* key) const
{
    const nlohmann::json* value = optional(key);
    return value ? std::optional(readText(*value, childPath(key))) : std::nullopt;
}

bool JsonReader::boolean(const char* key) const
{
    return readBoolean(required(key), childPath(key));
}

std::optional<bool> JsonReader::optionalBoolean(const char* key) const
{
    const nlohmann::json* value = optional(key);
    return value ? std::optional(readBoolean(*value, childPath(key))) : std::nullopt;
}

qint64 JsonReader::integer(const char* key) const
{
    return readInteger(required(key), childPath(key));
}

std::optional<qint64> JsonReader::optionalInteger(const char* key) const
{
    const nlohmann::json* value = optional(key);
    return value ? std::optional(readInteger(*value, childPath(key))) : std::nullopt;
}

double JsonReader::number(const char* key) const
{
    return readNumber(required(key), childPath(key));
}

std::optional<QStringList> JsonReader::optionalTextList(const char* key) const
{
    const nlohmann::json* value = optional(key);
    if (!value)
        return std::nullopt;
    const std::string path = childPath(key);
    const nlohmann::json& list = requireList(*value, path);
    QStringList result;
    for (std::size_t i = 0; i < list.size(); ++i)
        result.append(readText(list[i], elementPath(key, i)));
    return result;
}
