// Suggested output names in both access modes: suffixes are matched case-sensitively and only
// at the end, except ".zip", which goes wherever it appears.

#include "core/OutputNames.h"

#include <gtest/gtest.h>

TEST(OutputNames, ProtectedAndOpenedNamesInBothModes)
{
    EXPECT_EQ(OutputNames::protectedName("report.pdf", true), "report.pdf.korvolocal");
    EXPECT_EQ(OutputNames::protectedName("korvo-1.zip", false), "korvo-1.zip.korvo");

    const char* const cases[][3] = {   // name, opened locally, opened in account mode
        {"notes.txt.korvolocal", "notes.txt", "notes.txt.korvolocal"}, // account mode keeps it
        {"notes.txt.korvo", "notes.txt", "notes.txt"},
        {"archive.zip.korvo", "archive.zip", "archive.zip"},          // only the first rule that fits
        {"a.zip.b.zip", "a.b", "a.b"},                                 // every ".zip"
        {"A.KORVOLOCAL", "A.KORVOLOCAL", "A.KORVOLOCAL"},               // case-sensitive
        {"plain", "plain", "plain"},
    };
    for (const auto& [name, local, account] : cases) {
        EXPECT_EQ(OutputNames::openedName(name, true), local) << name;
        EXPECT_EQ(OutputNames::openedName(name, false), account) << name;
    }
}
