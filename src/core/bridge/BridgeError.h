#pragma once

#include "core/KorvoError.h"

#include <QString>

// The bridge protocol's own failures. Every other failure of a bridge run (the request could
// not be sent, node could not be started, the answer could not be decoded) has its own type
// below and reaches the caller as it is.
class BridgeError : public KorvoError {
public:
    enum class Kind { missingBridge, processFailed, bridge, invalidResponse };

    static BridgeError missingBridge(const QString& path);
    static BridgeError processFailed(const QString& message);
    static BridgeError bridge(const QString& message);
    static BridgeError invalidResponse();

    Kind kind() const noexcept { return m_kind; }
    // The path looked at (missingBridge) or the message carried (processFailed, bridge).
    const QString& payload() const noexcept { return m_payload; }

private:
    BridgeError(Kind kind, QString payload, QString message);

    Kind m_kind;
    QString m_payload;
};

// The bridge's answer (or a record inside it) does not have the expected shape.
class BridgeDecodingError : public KorvoError {
public:
    using KorvoError::KorvoError;
};

// The operating system refused to start the child or to pass it the request.
class BridgeProcessError : public KorvoError {
public:
    enum class Kind { startFailed, writeFailed, stoppedResponding };

    static BridgeProcessError startFailed(const QString& reason);
    static BridgeProcessError writeFailed(const QString& reason);
    // Neither output nor any reading or writing for longer than the runner allows.
    static BridgeProcessError stoppedResponding();

    Kind kind() const noexcept { return m_kind; }

private:
    BridgeProcessError(Kind kind, QString message)
        : KorvoError(std::move(message)), m_kind(kind) {}

    Kind m_kind;
};
