#pragma once

#include "core/bridge/BridgeEnvelope.h"
#include "core/bridge/BridgeError.h"
#include "core/bridge/BridgeResults.h"

#include <QByteArray>
#include <QString>

// What a finished bridge child left behind.
struct BridgeProcessResult {
    bool exitedNormally = true;   // false when the child was ended by a signal
    int exitCode = 0;
    QByteArray standardOutput;
    QByteArray standardError;

    bool succeeded() const { return exitedNormally && exitCode == 0; }
};

// Turns a finished child into a result record or the error that the run ends with.
namespace BridgeOutcome {

// Standard error trimmed, or "Bridge command failed." when that is empty or not UTF-8.
QString commandFailureText(const QByteArray& standardError);
// Standard error as it stands, or "Bridge check failed." when that is empty or not UTF-8.
QString checkFailureText(const QByteArray& standardError);

// A command run: an envelope's `error` always wins; success needs `ok` true and a `result`.
// On a failed exit an undecodable answer gives way to the child's standard error; on a clean
// exit the decoding error itself is thrown.
template<typename T>
T judgeCommand(const BridgeProcessResult& process)
{
    if (!process.succeeded()) {
        std::optional<QString> envelopeError;
        try {
            envelopeError = BridgeEnvelope<T>::decode(process.standardOutput).error;
        } catch (const BridgeDecodingError&) {
        }
        if (envelopeError)
            throw BridgeError::bridge(*envelopeError);
        throw BridgeError::processFailed(commandFailureText(process.standardError));
    }
    BridgeEnvelope<T> envelope = BridgeEnvelope<T>::decode(process.standardOutput);
    if (envelope.error)
        throw BridgeError::bridge(*envelope.error);
    if (envelope.ok && envelope.result)
        return std::move(*envelope.result);
    throw BridgeError::invalidResponse();
}

// The health check: standard output is only read after a clean exit, and `error` is not
// consulted.
BridgeCheckResult judgeCheck(const BridgeProcessResult& process);

} // namespace BridgeOutcome
