#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

// Strict reading of the objects in a bridge answer. A required key must be present, not null
// and of the right JSON type; an optional key may be absent or null; keys not asked for are
// ignored. Every mismatch throws BridgeDecodingError naming the value by its path in the answer
// ("result.secrets[2].clusterId").
class JsonReader {
public:
    // Parses a whole document; throws BridgeDecodingError when it is not JSON.
    static nlohmann::json parse(const QByteArray& bytes);

    // Throws BridgeDecodingError unless `value` is an object.
    JsonReader(const nlohmann::json& value, std::string path);

    QString text(const char* key) const;
    std::optional<QString> optionalText(const char* key) const;
    bool boolean(const char* key) const;
    std::optional<bool> optionalBoolean(const char* key) const;
    // Whole numbers only: 25 and 25.0 are read, 25.5 is not.
    qint64 integer(const char* key) const;
    std::optional<qint64> optionalInteger(const char* key) const;
    double number(const char* key) const;
    std::optional<QStringList> optionalTextList(const char* key) const;

    // A nested record: T provides `static T decode(const JsonReader&)`.
    template<typename T>
    T record(const char* key) const
    {
        return T::decode(JsonReader(required(key), childPath(key)));
    }

    template<typename T>
    std::optional<T> optionalRecord(const char* key) const
    {
        const nlohmann::json* value = optional(key);
        if (!value)
            return std::nullopt;
        return T::decode(JsonReader(*value, childPath(key)));
    }

    template<typename T>
    std::vector<T> records(const char* key) const
    {
        const nlohmann::json& list = requireList(required(key), childPath(key));
        std::vector<T> result;
        result.reserve(list.size());
        for (std::size_t i = 0; i < list.size(); ++i)
            result.push_back(T::decode(JsonReader(list[i], elementPath(key, i))));
        return result;
    }

    // The raw value of a required key (present and not null).
    const nlohmann::json& required(const char* key) const;
    // The raw value of a key that must be present; JSON null is passed on.
    const nlohmann::json& present(const char* key) const;
    // The raw value of an optional key, or null when it is absent or JSON null.
    const nlohmann::json* optional(const char* key) const;

    std::string childPath(const char* key) const;

private:
    std::string elementPath(const char* key, std::size_t index) const;
    static const nlohmann::json& requireList(const nlohmann::json& value, const std::string& path);

    const nlohmann::json& m_object;
    std::string m_path;
};
