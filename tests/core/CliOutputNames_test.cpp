// Suggested output names in both access modes: suffixes are matched case-sensitively and only
// at the end, except ".zip", which goes wherever it appears.

#include "core/local/OutputNames.h"

#include <gtest/gtest.h>

using OutputNames::openedName;
using OutputNames::protectedName;

TEST(OutputNames, ProtectedNamesAppendTheModesExtension)
{
    EXPECT_EQ(protectedName("report.pdf", true), "report.pdf.korvolocal");
    EXPECT_EQ(protectedName("report.pdf", false), "report.pdf.korvo");
    EXPECT_EQ(protectedName("korvo-1.zip", true), "korvo-1.zip.korvolocal");
}

TEST(OutputNames, OpenedNamesFollowTheRulesInOrder)
{
    struct Case {
        const char* name;
        const char* local;
        const char* account;
    };
    const Case cases[] = {
        {"notes.txt.korvolocal", "notes.txt", "notes.txt.korvolocal"}, // account mode keeps it
        {"notes.txt.korvo", "notes.txt", "notes.txt"},
        {"archive.zip.korvo", "archive.zip", "archive.zip"},          // only the first rule that fits
        {"photo.zip", "photo", "photo"},
        {"a.zip.b.zip", "a.b", "a.b"},                                 // every ".zip"
        {"a.zip.korvolocal", "a.zip", "a.korvolocal"},
        {"A.KORVOLOCAL", "A.KORVOLOCAL", "A.KORVOLOCAL"},               // case-sensitive
        {"A.ZIP", "A.ZIP", "A.ZIP"},
        {"x.korvolocal.txt", "x.korvolocal.txt", "x.korvolocal.txt"},  // only at the end
        {".korvolocal", "", ".korvolocal"},
        {".korvo", "", ""},
        {"plain", "plain", "plain"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(openedName(c.name, true), c.local) << c.name;
        EXPECT_EQ(openedName(c.name, false), c.account) << c.name;
    }
}
