#include "FormRules.h"

#include "core/flows/AccountRules.h"

int FormRules::characterCount(const QString& text)
{
    return int(AccountRules::characterCount(text));
}

bool FormRules::hasMinimumLength(const QString& password)
{
    return AccountRules::hasMinimumLength(password);
}

bool FormRules::canSignIn(const QString& email, const QString& password)
{
    return AccountRules::canSubmit(email, password);
}

bool FormRules::isDeletionCode(const QString& code)
{
    return AccountRules::sixDigitCode(code).has_value();
}
