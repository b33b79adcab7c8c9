#include "core/flows/AccountServices.h"

BridgeRequest AccountServices::request(const QString& command, const AccountIdentity& identity) const
{
    BridgeRequest signedRequest = request(command);
    signedRequest.principalId = identity.principalId;
    signedRequest.ed25519PrivateKeyHex = identity.ed25519PrivateKeyHex;
    return signedRequest;
}

QCoro::Task<QString> AccountServices::message(BridgeRequest request, QString fallback) const
{
    QCoro::Task<SimpleMessageResult> sending = run<SimpleMessageResult>(std::move(request));
    const SimpleMessageResult result = co_await sending;
    co_return result.message.value_or(fallback);
}
