#include "core/flows/RecipientLookup.h"

#include "core/bridge/KorvoPublicKeyCache.h"
#include "core/flows/FlowError.h"

namespace {
const QString korvoNotVerified = QStringLiteral("That Korvo could not be verified.");

// The key fetched for the cache: the answer must be about the number asked for.
QCoro::Task<QString> fetchPublicKey(AccountServices services, BridgeRequest request)
{
    QCoro::Task<KorvoPublicKeyResult> fetching = services.run<KorvoPublicKeyResult>(request);
    const KorvoPublicKeyResult result = co_await fetching;
    if (result.secretId != request.secretId)
        throw FlowError(korvoNotVerified);
    co_return result.publicKey;
}
} // namespace

RecipientLookup::RecipientLookup(AccountServices services)
    : m_services(std::move(services))
{
}

std::optional<qint64> RecipientLookup::korvoNumber(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const qsizetype start = (trimmed.front() == QLatin1Char('+') || trimmed.front() == QLatin1Char('-')) ? 1 : 0;
    if (start == trimmed.size())
        return std::nullopt;
    for (qsizetype i = start; i < trimmed.size(); ++i) {
        if (trimmed[i] < QLatin1Char('0') || trimmed[i] > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = trimmed.toLongLong(&ok, 10);
    if (!ok || value <= 0)
        return std::nullopt;
    return value;
}

QCoro::Task<QString> RecipientLookup::publicKey(AccountIdentity identity, qint64 number) const
{
    BridgeRequest request = m_services.request(QStringLiteral("getSecretPublicKey"), identity);
    request.secretId = number;
    const AccountServices services = m_services;
    QCoro::Task<QString> looking = m_services.publicKeys->publicKey(m_services.bridge->blackboxUrl(), number,
                                                                    [services, request] { return fetchPublicKey(services, request); });
    co_return co_await looking;
}
