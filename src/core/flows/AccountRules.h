#pragma once

#include "core/KeychainStore.h"

#include <QString>

#include <optional>

// The account forms' rules (the views ask these too) and the decision whether a saved identity
// can be reused. Pure functions, no state.
namespace AccountRules {

// White space and line breaks trimmed from both ends, then lower case.
QString normalizedEmail(const QString& email);

// Characters as a person counts them (one emoji is one character).
qsizetype characterCount(const QString& text);

inline constexpr qsizetype minimumPasswordLength = 8;
// At least minimumPasswordLength characters.
bool hasMinimumLength(const QString& password);

// The normalised e-mail holds "@" and the password (as typed) has at least 8 characters: the
// sign-in form may be sent.
bool canSubmit(const QString& email, const QString& password);
// Account creation and password reset compare the fields exactly as typed.
bool canRegister(const QString& email, const QString& password, const QString& confirmation);
bool canResetPassword(const QString& code, const QString& password, const QString& confirmation);
// The deletion code may be asked for once the password is long enough and the box is ticked.
bool canRequestDeletion(const QString& password, bool understandsDeletion);

// One point each: at least 8 characters, an upper-case letter, a decimal digit (of any
// script), a character that is neither a letter nor a digit.
int passwordScore(const QString& password);

// The numeric characters of `text` (any script's digits, full-width ones, superscripts,
// fractions, ...), in order.
QString numericCharactersOnly(const QString& text);

// The saved identity when it belongs to the same e-mail (compared normalised) and principal,
// with its e-mail normalised; otherwise a fresh identity without a device key.
AccountIdentity identity(const QString& email, const QString& principalId,
                         const std::optional<AccountIdentity>& savedIdentity);

// 64 hexadecimal digits, after removing one leading "0x".
bool hasValidDeviceKey(const QString& key);

// Exactly six characters, each numeric in the Unicode sense (full-width digits count), after
// trimming; the trimmed code when it is one.
std::optional<QString> sixDigitCode(const QString& text);

} // namespace AccountRules
