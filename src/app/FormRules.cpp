#include "FormRules.h"

#include "core/flows/AccountRules.h"

bool FormRules::canSignIn(const QString& email, const QString& password) const
{
    return AccountRules::canSubmit(email, password);
}

bool FormRules::canRegister(const QString& email, const QString& password, const QString& confirmation) const
{
    return AccountRules::canRegister(email, password, confirmation);
}

bool FormRules::canResetPassword(const QString& code, const QString& password, const QString& confirmation) const
{
    return AccountRules::canResetPassword(code, password, confirmation);
}

bool FormRules::canRequestDeletion(const QString& password, bool understandsDeletion, bool busy) const
{
    return !busy && AccountRules::canRequestDeletion(password, understandsDeletion);
}

bool FormRules::canConfirmDeletion(const QString& code, bool busy) const
{
    return !busy && AccountRules::sixDigitCode(code).has_value();
}

int FormRules::passwordScore(const QString& password) const
{
    return AccountRules::passwordScore(password);
}

QString FormRules::strengthText(int score) const
{
    return score >= 3 ? QStringLiteral("Good password strength.") : QStringLiteral("Use 8+ characters with a number or symbol.");
}

QString FormRules::deletionCodeSubtitle(const QString& email) const
{
    return QStringLiteral("Enter the six-digit code sent to %1.").arg(email.isEmpty() ? QStringLiteral("your email") : email);
}

QString FormRules::numericCharactersOnly(const QString& text) const
{
    return AccountRules::numericCharactersOnly(text);
}
