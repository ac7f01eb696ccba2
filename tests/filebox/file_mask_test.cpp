#include "file_mask.h"

#include <gtest/gtest.h>

namespace pictrove {
namespace {

struct MatchCase {
    const char* segment;
    const char* name;
    bool matches;
};

TEST(FileMask, MatchesTheRuleTable) {
    const MatchCase cases[] = {
        {"*.*", "readme.txt", true},    {"*.*", "readme", false},  // the name has no "."
        {"*.*", ".profile", true},      {"*", "readme", true},
        {"*.exe", "notepad.exe", true}, {"*.exe", "a.b.exe", false},  // the name's first "." starts "b.exe"
        {"*.ic?", "a.ico", true},       {"*.ic?", "a.icl", true},
        {"*.ic?", "a.ics", true},       {"*.ic?", "a.ic", true},
        {"*.ic?", "a.icon", false},     {"*.e*e", "a.ebb", true},  // the second "*" ends the comparison
        {"*x.txt", "notes.txt", true},                             // the x is not looked at
        {"ab*.txt", "ab.txt", true},    {"?.txt", "ab.txt", false},
        {"a.b??", "a.b", true},         {"readme.txt", "readme.txt2", false},
    };
    for (const MatchCase& c : cases)
        EXPECT_EQ(matchesMaskSegment(c.segment, c.name), c.matches) << c.segment << " vs " << c.name;
}

TEST(FileMask, EdgesOfTheRule) {
    const MatchCase cases[] = {
        {"", "anything", false},  // empty segments are skipped
        {"readme.txt", "readme.tx", false},
        {"readme.txt", "readme.txt", true},
        {"*.txt", "readme.txt.bak", false},
        {"*.", "readme.", true},
        {"*.", "readme.txt", false},
        {"???", "ab", true},  // "?" also stands for nothing once the name has ended
        {"???", "abcd", false},
        {"a*", "abc.def", true},     // no "." in the mask: "*" takes the rest
        {" *.dll", "a.dll", false},  // a blank after ";" stays part of the segment
        {" *.dll", " a.dll", true},
        {"*.TXT", "a.txt", false},  // both sides arrive lower-cased
        // One "?" is one character, however many bytes it takes in UTF-8.
        {"?.txt", "\xC3\xA9.txt", true},
        {"a?c",
         "a\xE2\x82\xAC"
         "c",
         true},
        {"a??", "a\xF0\x9F\x98\x80", true},
        {"a?", "a\xF0\x9F\x98\x80", true},
        // A byte that starts no sequence counts alone.
        {"??.txt", "\xFF\xFE.txt", true},
        {"?.txt", "\xFF\xFE.txt", false},
        {"?", "\xC3", true},  // cut-off sequence at the end
        // Letters outside ASCII are not case-mapped: they must be equal.
        {"\xC3\xA9.txt", "\xC3\x89.txt", false},
    };
    for (const MatchCase& c : cases)
        EXPECT_EQ(matchesMaskSegment(c.segment, c.name), c.matches) << c.segment << " vs " << c.name;
}

TEST(FileMask, AnySegmentMatches) {
    const std::vector<std::string> segments = splitFileMask("*.exe;;*.DLL").segments;
    EXPECT_TRUE(matchesMask(segments, "a.dll"));
    EXPECT_TRUE(matchesMask(segments, "a.exe"));
    EXPECT_FALSE(matchesMask(segments, "a.ico"));
    EXPECT_FALSE(matchesMask({}, "a.ico"));
}

struct SplitCase {
    const char* mask;
    std::vector<std::string> segments;
    const char* folder;
};

TEST(FileMask, SplitsIntoLowerCasedSegments) {
    const SplitCase cases[] = {
        {"*.exe;*.dll;*.ocx;*.cpl;*.ico", {"*.exe", "*.dll", "*.ocx", "*.cpl", "*.ico"}, ""},
        {"/home/ann/Icons/*.ICO", {"*.ico"}, "/home/ann/Icons/"},
        {"*.exe; *.dll", {"*.exe", " *.dll"}, ""},
        {"*.exe;", {"*.exe"}, ""},
        {";*.exe", {"", "*.exe"}, ""},
        {"a;;b", {"a", "", "b"}, ""},
        {"", {}, ""},
        {";", {""}, ""},
        // Only the last segment's folder counts; earlier ones give their names.
        {"/tmp/a/*.EXE;/tmp/b/*.dll", {"*.exe", "*.dll"}, "/tmp/b/"},
        {"/tmp/a/*.exe;*.dll", {"*.exe", "*.dll"}, ""},
        {"/tmp/a/", {""}, "/tmp/a/"},
        {"sub/x/*.Ic?", {"*.ic?"}, "sub/x/"},
        {"\xC3\x84*.TXT", {"\xC3\x84*.txt"}, ""},  // only A to Z change
    };
    for (const SplitCase& c : cases) {
        const SplitFileMask split = splitFileMask(c.mask);
        EXPECT_EQ(split.segments, c.segments) << c.mask;
        EXPECT_EQ(split.folder, c.folder) << c.mask;
    }
}

TEST(FileMask, LongMasksAreNotCut) {
    std::string mask = "*.exe";
    for (int i = 0; i < 100; ++i) mask += ";*.x" + std::to_string(i);
    const SplitFileMask split = splitFileMask(mask);
    ASSERT_EQ(split.segments.size(), 101u);
    EXPECT_EQ(split.segments.back(), "*.x99");
    EXPECT_TRUE(matchesMask(split.segments, "a.x99"));
}

}  // namespace
}  // namespace pictrove
