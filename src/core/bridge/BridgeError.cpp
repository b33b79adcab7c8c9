#include "core/bridge/BridgeError.h"

namespace {
const QString kMissingBridge = QStringLiteral("Bridge script was not found at %1.");
const QString kInvalidResponse = QStringLiteral("Bridge returned an invalid response.");
const QString kStartFailed = QStringLiteral("The bridge could not be started (%1).");
const QString kWriteFailed = QStringLiteral("The request could not be passed to the bridge (%1).");
}

BridgeError::BridgeError(Kind kind, QString payload, QString message)
    : KorvoError(std::move(message)), m_kind(kind), m_payload(std::move(payload))
{
}

BridgeError BridgeError::missingBridge(const QString& path)
{
    return BridgeError(Kind::missingBridge, path, kMissingBridge.arg(path));
}

BridgeError BridgeError::processFailed(const QString& message)
{
    return BridgeError(Kind::processFailed, message, message);
}

BridgeError BridgeError::bridge(const QString& message)
{
    return BridgeError(Kind::bridge, message, message);
}

BridgeError BridgeError::invalidResponse()
{
    return BridgeError(Kind::invalidResponse, QString(), kInvalidResponse);
}

BridgeProcessError BridgeProcessError::startFailed(const QString& reason)
{
    return BridgeProcessError(Kind::startFailed, kStartFailed.arg(reason));
}

BridgeProcessError BridgeProcessError::writeFailed(const QString& reason)
{
    return BridgeProcessError(Kind::writeFailed, kWriteFailed.arg(reason));
}

BridgeProcessError BridgeProcessError::stoppedResponding()
{
    return BridgeProcessError(Kind::stoppedResponding,
                              QStringLiteral("The bridge stopped responding and was ended. Try again."));
}
