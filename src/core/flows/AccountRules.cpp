#include "core/flows/AccountRules.h"

#include <QList>
#include <QTextBoundaryFinder>

namespace AccountRules {

QString normalizedEmail(const QString& email)
{
    return email.trimmed().toLower();
}

qsizetype characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

bool hasMinimumLength(const QString& password)
{
    return characterCount(password) >= minimumPasswordLength;
}

bool canSubmit(const QString& email, const QString& password)
{
    return normalizedEmail(email).contains(QLatin1Char('@')) && hasMinimumLength(password);
}

bool canRegister(const QString& email, const QString& password, const QString& confirmation)
{
    return email.contains(QLatin1Char('@')) && hasMinimumLength(password) && password == confirmation;
}

bool canResetPassword(const QString& code, const QString& password, const QString& confirmation)
{
    return !code.isEmpty() && hasMinimumLength(password) && password == confirmation;
}

bool canRequestDeletion(const QString& password, bool understandsDeletion)
{
    return understandsDeletion && hasMinimumLength(password);
}

int passwordScore(const QString& password)
{
    bool upper = false, digit = false, symbol = false;
    for (const char32_t c : password.toUcs4()) {
        const bool isDigit = QChar::isDigit(c);
        upper = upper || QChar::isUpper(c);
        digit = digit || isDigit;
        symbol = symbol || (!isDigit && !QChar::isLetter(c));
    }
    return int(hasMinimumLength(password)) + int(upper) + int(digit) + int(symbol);
}

QString numericCharactersOnly(const QString& text)
{
    QList<uint> kept;
    for (const uint c : text.toUcs4()) {
        if (QChar::isNumber(char32_t(c)))
            kept.append(c);
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(kept.constData()), kept.size());
}

AccountIdentity identity(const QString& email, const QString& principalId,
                         const std::optional<AccountIdentity>& savedIdentity)
{
    const QString normalized = normalizedEmail(email);
    if (savedIdentity && normalizedEmail(savedIdentity->email) == normalized
        && savedIdentity->principalId == principalId) {
        AccountIdentity reused = *savedIdentity;
        reused.email = normalized;
        return reused;
    }
    return AccountIdentity{normalized, principalId, QString(), std::nullopt, std::nullopt};
}

bool hasValidDeviceKey(const QString& key)
{
    const QStringView digits = key.startsWith(QLatin1String("0x")) ? QStringView(key).mid(2) : QStringView(key);
    if (digits.size() != 64)
        return false;
    for (const QChar c : digits) {
        const bool hex = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
                         || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (!hex)
            return false;
    }
    return true;
}

std::optional<QString> sixDigitCode(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (characterCount(trimmed) != 6 || numericCharactersOnly(trimmed) != trimmed)
        return std::nullopt;
    return trimmed;
}

} // namespace AccountRules
