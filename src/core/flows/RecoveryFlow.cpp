#include "core/flows/RecoveryFlow.h"

#include "core/flows/AccountRules.h"

namespace {
const QString resetCodeSent = QStringLiteral("Reset code sent.");
const QString passwordResetDone = QStringLiteral("Password reset.");
} // namespace

RecoveryFlow::RecoveryFlow(AccountServices services)
    : m_services(std::move(services))
{
}

QCoro::Task<QString> RecoveryFlow::sendCode(QString email) const
{
    BridgeRequest request = m_services.request(QStringLiteral("forgotPassword"));
    request.email = email;
    QCoro::Task<QString> sending = m_services.message(request, resetCodeSent);
    co_return co_await sending;
}

QCoro::Task<QString> RecoveryFlow::reset(QString email, QString code, QString newPassword,
                                         std::optional<AccountIdentity> saved) const
{
    const bool signs = saved && saved->email == AccountRules::normalizedEmail(email)
                       && AccountRules::hasValidDeviceKey(saved->ed25519PrivateKeyHex);
    BridgeRequest request = signs ? m_services.request(QStringLiteral("resetPassword"), *saved)
                                  : m_services.request(QStringLiteral("resetPassword"));
    request.email = email;
    request.otp = code;
    request.newPassword = newPassword;
    QCoro::Task<QString> resetting = m_services.message(request, passwordResetDone);
    co_return co_await resetting;
}
