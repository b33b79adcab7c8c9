#pragma once

#include "core/bridge/JsonReader.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The one document a bridge run writes to its standard output. `result` and `error` are
// absent when missing or null; a `result` that is present but does not read as T makes the
// whole envelope undecodable, whatever `ok` says.
template<typename T>
struct BridgeEnvelope {
    bool ok = false;
    std::optional<T> result;
    std::optional<QString> error;

    // Throws BridgeDecodingError.
    static BridgeEnvelope decode(const QByteArray& bytes)
    {
        const nlohmann::json document = JsonReader::parse(bytes);
        const JsonReader json(document, std::string());
        BridgeEnvelope envelope;
        envelope.ok = json.boolean("ok");
        envelope.result = json.optionalRecord<T>("result");
        envelope.error = json.optionalText("error");
        // A blank error says nothing a person could read; it counts as no error at all, so the
        // caller falls back to its own sentence.
        if (envelope.error && envelope.error->trimmed().isEmpty())
            envelope.error.reset();
        return envelope;
    }
};
