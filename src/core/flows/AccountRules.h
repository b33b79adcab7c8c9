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

// The normalised e-mail holds "@" and the password (as typed) has at least 8 characters.
bool canSubmit(const QString& email, const QString& password);

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
