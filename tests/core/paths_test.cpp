#include "paths.h"

#include <gtest/gtest.h>

namespace pictrove {
namespace {

TEST(Paths, SplitsCommandLinesLikeTheWindowsStartUpCode) {
    struct Case {
        const char* line;
        std::vector<std::string> args;
    } cases[] = {
        {"pictrove", {"pictrove"}},
        {"  pictrove   a.dll  b.dll ", {"pictrove", "a.dll", "b.dll"}},
        {"pictrove \"C:\\Program Files\\x.dll\"", {"pictrove", "C:\\Program Files\\x.dll"}},
        {"pictrove a\"b c\"d", {"pictrove", "ab cd"}},
        {"pictrove \"\"x.dll", {"pictrove", "x.dll"}},
        {"pictrove\ta.dll\r\nb.dll", {"pictrove", "a.dll", "b.dll"}},
        {"pictrove \"unterminated arg", {"pictrove", "unterminated arg"}},
        {"", {}},
        {"\"C:\\My Apps\\pictrove.exe\" shell32.dll", {"C:\\My Apps\\pictrove.exe", "shell32.dll"}},
    };
    for (const Case& c : cases) EXPECT_EQ(splitCommandLine(c.line), c.args) << c.line;
}

TEST(Paths, FolderNameAndExtensionParts) {
    EXPECT_EQ(folderPart("/usr/lib/x.dll"), "/usr/lib/");
    EXPECT_EQ(folderPart("x.dll"), "");
    EXPECT_EQ(folderPart("/"), "/");
    EXPECT_EQ(fileNamePart("/usr/lib/x.dll"), "x.dll");
    EXPECT_EQ(fileNamePart("/usr/lib/"), "");
    EXPECT_EQ(lowerExtension("/a/Toolbar.ICS"), ".ics");
    EXPECT_EQ(lowerExtension("/a/set.v2/icons"), "");  // the dot belongs to a folder
    EXPECT_EQ(lowerExtension("a.b.ics"), ".ics");
    EXPECT_EQ(lowerExtension("noext"), "");
    EXPECT_EQ(lowerExtension("\xC3\x84.\xC3\x84X"), ".\xC3\x84x");  // only A to Z change case
    EXPECT_EQ(replaceExtension("/opt/pictrove/pictrove", ".ini"), "/opt/pictrove/pictrove.ini");
    EXPECT_EQ(replaceExtension("/opt/pictrove/pictrove.exe", ".ini"), "/opt/pictrove/pictrove.ini");
    EXPECT_EQ(replaceExtension("/opt/v1.2/pictrove", ".hlp"), "/opt/v1.2/pictrove.hlp");
    EXPECT_EQ(withDefaultExtension("/v1.2/set", ".ics"), "/v1.2/set.ics");
    EXPECT_EQ(withDefaultExtension("/a/set.ICX", ".ics"), "/a/set.ICX");
    // Cut between whole UTF-8 characters, never into the suffix.
    EXPECT_EQ(fitFileName("abcdef", "_0.png", 12), "abcdef_0.png");
    EXPECT_EQ(fitFileName("abcdef", "_0.png", 9), "abc_0.png");
    EXPECT_EQ(fitFileName("a\xC3\xA9\xE2\x82\xAC", "_1", 7), "a\xC3\xA9_1");
    EXPECT_EQ(fitFileName("a\xC3\xA9\xE2\x82\xAC", "_1", 4), "a_1");
    EXPECT_EQ(fitFileName("abc", "_0_16x16_1.png", 5), "_0_16x16_1.png");
}

TEST(Paths, ErrorMessagesEndWithAPeriodWhenTheyEndInText) {
    EXPECT_EQ(withFinalPeriod("Stream read error"), "Stream read error.");
    EXPECT_EQ(withFinalPeriod("Cannot open file C:\\a.ics"), "Cannot open file C:\\a.ics.");
    EXPECT_EQ(withFinalPeriod("Done."), "Done.");
    EXPECT_EQ(withFinalPeriod("Really!"), "Really!");  // "!" sorts before "."
    EXPECT_EQ(withFinalPeriod("Size 4"), "Size 4.");
    EXPECT_EQ(withFinalPeriod("a-"), "a-");
    EXPECT_EQ(withFinalPeriod(""), "");
}

}  // namespace
}  // namespace pictrove
