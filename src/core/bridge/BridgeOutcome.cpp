#include "core/bridge/BridgeOutcome.h"

#include <QStringDecoder>

namespace {

const QString kCommandFailed = QStringLiteral("Bridge command failed.");
const QString kCheckFailed = QStringLiteral("Bridge check failed.");

std::optional<QString> strictUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

QString BridgeOutcome::commandFailureText(const QByteArray& standardError)
{
    const std::optional<QString> text = strictUtf8(standardError);
    const QString trimmed = text ? text->trimmed() : QString();
    return trimmed.isEmpty() ? kCommandFailed : trimmed;
}

QString BridgeOutcome::checkFailureText(const QByteArray& standardError)
{
    const std::optional<QString> text = strictUtf8(standardError);
    // An empty sentence would leave the failure without a description, so an empty standard
    // error is treated like an unreadable one.
    return text && !text->isEmpty() ? *text : kCheckFailed;
}

BridgeCheckResult BridgeOutcome::judgeCheck(const BridgeProcessResult& process)
{
    if (!process.succeeded())
        throw BridgeError::processFailed(checkFailureText(process.standardError));
    BridgeEnvelope<BridgeCheckResult> envelope =
        BridgeEnvelope<BridgeCheckResult>::decode(process.standardOutput);
    if (envelope.ok && envelope.result)
        return std::move(*envelope.result);
    throw BridgeError::invalidResponse();
}
