// The account forms' rules, which the views and the flows share: lengths count characters as a
// person sees them, so no button is enabled for a form the flow would refuse.
#include "core/flows/AccountRules.h"

#include <gtest/gtest.h>

namespace {
const QString eight = QStringLiteral("abcdefgh");
const QString seven = QStringLiteral("abcdefg");
// Four thumbs up with a skin tone: four characters, eight code points.
const QString fourToned = QString::fromUtf8("\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD").repeated(4);
const QString sixAndEmoji = QStringLiteral("abcdef") + QString::fromUtf8("\xF0\x9F\x98\x80");
} // namespace

TEST(AccountRulesTest, FormsMaySendOnlyWhatTheFlowsAccept)
{
    using namespace AccountRules;
    const struct {
        const char* name;
        bool ok;
    } accepted[] = {
        {"sign-in", canSubmit(QStringLiteral("  A@B  "), eight)},
        {"create", canRegister(QStringLiteral("a@b"), eight, eight)},
        {"reset", canResetPassword(QStringLiteral("1"), eight, eight)},
        {"deletion asked", canRequestDeletion(eight, true)},
        {"deletion code: six digits with blanks", sixDigitCode(QStringLiteral(" 123456 ")).has_value()},
        {"deletion code: full-width digits", sixDigitCode(QString::fromUtf8("\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x93\xEF\xBC\x94\xEF\xBC\x95\xEF\xBC\x96")).has_value()},
    }, refused[] = {
        {"sign-in without @", canSubmit(QStringLiteral("ab"), eight)},
        {"sign-in with 7 characters", canSubmit(QStringLiteral("a@b"), seven)},
        {"sign-in: four toned emoji are four characters", canSubmit(QStringLiteral("a@b"), fourToned)},
        {"sign-in: six letters and an emoji are seven", canSubmit(QStringLiteral("a@b"), sixAndEmoji)},
        {"create: confirmation one character off", canRegister(QStringLiteral("a@b"), eight, QStringLiteral("abcdefgH"))},
        {"create: four toned emoji", canRegister(QStringLiteral("a@b"), fourToned, fourToned)},
        {"reset without code", canResetPassword(QString(), eight, eight)},
        {"deletion: box clear", canRequestDeletion(eight, false)},
        {"deletion: 7 characters", canRequestDeletion(seven, true)},
        {"deletion code: five digits and a letter", sixDigitCode(QStringLiteral("12345a")).has_value()},
        {"deletion code: blank inside", sixDigitCode(QStringLiteral("123 456")).has_value()},
    };
    for (const auto& row : accepted)
        EXPECT_TRUE(row.ok) << row.name;
    for (const auto& row : refused)
        EXPECT_FALSE(row.ok) << row.name;
}

TEST(AccountRulesTest, PasswordScoreAndNumericFilterKnowEveryScript)
{
    const struct {
        const char* password;
        int score;
    } scores[] = {
        {"", 0},
        {"abcdefgh", 1},
        {"A1!", 3},
        {"Abcdefg1!", 4},
        {"a b", 1},                                                  // a blank is a symbol
        {"\xC3\x89t\xC3\xA9", 1},                                    // accented capital is upper case
        {"\xD9\xA4", 1},                                             // arabic-indic digit is a digit
        {"\xE6\xBC\xA2\xE5\xAD\x97\xE6\xBC\xA2\xE5\xAD\x97\xE6\xBC\xA2\xE5\xAD\x97\xE6\xBC\xA2\xE5\xAD\x97", 1},   // letters
        {"\xC2\xB2", 1},                                             // superscript two is not a decimal digit
    };
    for (const auto& row : scores)
        EXPECT_EQ(AccountRules::passwordScore(QString::fromUtf8(row.password)), row.score) << row.password;

    const struct {
        const char* text;
        const char* digits;
    } filters[] = {
        {"-4,2.0 ", "420"},
        {"2\xC2\xB2\xC2\xBD", "2\xC2\xB2\xC2\xBD"},                  // superscript and fraction are numbers
        {"a\xF0\x9D\x9F\x98" "b", "\xF0\x9D\x9F\x98"},               // an astral digit is kept whole
        {"4\xF0\x9F\x98\x80", "4"},                                  // an emoji goes whole
    };
    for (const auto& row : filters)
        EXPECT_EQ(AccountRules::numericCharactersOnly(QString::fromUtf8(row.text)), QString::fromUtf8(row.digits)) << row.text;
}
