// The profile reader against the lookup rules of the Windows profile
// functions, the integer rules of number keys, and settings files that are
// damaged, binary, huge or not files at all.
#include "profile.h"
#include "path_text.h"
#include "paths.h"
#include "profile_writer.h"
#include "settings_defaults.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace pictrove {
namespace {

namespace fs = std::filesystem;
using profile_limits::kMaxFileBytes;
using profile_limits::kMaxValueBytes;

struct LookupCase {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

std::string operator""_bytes(const char* text, std::size_t size) {
    return std::string(text, size);
}

class ProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("pictrove_profile_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                   "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // `name` and the path returned are UTF-8, as the program hands them on.
    std::string write(const std::string& name, const std::string& bytes) {
        const fs::path path = folder_ / pathFromUtf8(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return utf8Of(path);
    }

    fs::path folder_;
};

const std::vector<LookupCase>& lookupCases() {
    static const std::string quoted1024 = "\"" + std::string(1024, 'q') + "\"";
    static const std::vector<LookupCase> cases = {
        {"plain", "[Options]\nHome=x\n", "Options", "Home", "x"},
        {"names in any case", "[OPTIONS]\nhOmE=x\n", "options", "HOME", "x"},
        {"blanks around key and value", "[S]\n  \tKey \t=  a b \t\n", "S", "Key", "a b"},
        {"blanks in the brackets", "  [ S ]  \nK=v\n", "S", "K", "v"},
        {"present and empty", "[S]\nK=\n", "S", "K", ""},
        {"present and blank", "[S]\nK=   \n", "S", "K", ""},
        {"missing key", "[S]\nOther=1\n", "S", "K", std::nullopt},
        {"missing section", "[T]\nK=1\n", "S", "K", std::nullopt},
        {"empty text", "", "S", "K", std::nullopt},
        {"double quotes keep inner blanks", "[S]\nK= \"  a  \" \n", "S", "K", "  a  "},
        {"single quotes", "[S]\nK='b'\n", "S", "K", "b"},
        {"unmatched quotes stay", "[S]\nK=\"a'\n", "S", "K", "\"a'"},
        {"lone quote stays", "[S]\nK=\"\n", "S", "K", "\""},
        {"empty quotes", "[S]\nK=\"\"\n", "S", "K", ""},
        {"one pair only", "[S]\nK=\"\"x\"\"\n", "S", "K", "\"x\""},
        {"quote inside", "[S]\nK=a\"b\"\n", "S", "K", "a\"b\""},
        {"value holds equals", "[S]\nK=b=c\n", "S", "K", "b=c"},
        {"first key wins", "[S]\nK=1\nk=2\n", "S", "K", "1"},
        {"first section wins", "[S]\nA=1\n[T]\nB=2\n[s]\nB=3\nA=4\n", "S", "B", std::nullopt},
        {"first section's keys", "[S]\nA=1\n[T]\nB=2\n[s]\nB=3\nA=4\n", "S", "A", "1"},
        {"later sections reachable", "[S]\nA=1\n[T]\nB=2\n", "T", "B", "2"},
        {"keys before any section", "K=1\n[S]\n", "S", "K", std::nullopt},
        {"comment is a different key", "[S]\n;K=1\n", "S", "K", std::nullopt},
        {"bare key hides a later value", "[S]\nK\nK=2\n", "S", "K", std::nullopt},
        {"bare key in blanks", "[S]\n \tk \nK=2\n", "S", "K", std::nullopt},
        {"bare key after the value", "[S]\nK=1\nK\n", "S", "K", "1"},
        {"another bare key", "[S]\nX\nK=2\n", "S", "K", "2"},
        {"bare key in another section", "[T]\nK\n[S]\nK=2\n", "S", "K", "2"},
        {"header without bracket is no header", "[S]\n[T\nK=v\n", "S", "K", "v"},
        {"text after the bracket", "[S] ; note\nK=v\n", "S", "K", "v"},
        {"bracket inside a line", "x[S]\nK=1\n[S]\nK=2\n", "S", "K", "2"},
        {"bracket after a key", "[S]\nA=[T]\nK=v\n", "S", "K", "v"},
        {"empty section name", "[]\nK=v\n", "", "K", "v"},
        {"CR LF", "[S]\r\nA=1\r\nK=v\r\n", "S", "K", "v"},
        {"lone CR", "[S]\rA=1\rK=v\r", "S", "K", "v"},
        {"mixed endings", "[S]\r\nA=1\nB=2\rK=v", "S", "K", "v"},
        {"CR CR LF", "[S]\r\r\nK=v\r\r\n", "S", "K", "v"},
        {"no final line end", "[S]\nK=v", "S", "K", "v"},
        {"byte order mark", "\xEF\xBB\xBF[S]\nK=v\n", "S", "K", "v"},
        {"byte order mark only at the start", "[S]\n\xEF\xBB\xBFK=v\n", "S", "K", std::nullopt},
        {"zero byte ends a value", "[S]\nK=ab\0cd\n"_bytes, "S", "K", "ab"},
        {"zero byte in a name", "[S]\nK\0=1\nK=2\n"_bytes, "S", "K", "2"},
        {"garbage before", "\xFF\xFE\0\0\x01\x80garbage]]\n[S]\nK=v\n"_bytes, "S", "K", "v"},
        {"value of 1023", "[S]\nK=" + std::string(1023, 'a') + "\n", "S", "K", std::string(1023, 'a')},
        {"value of 1024", "[S]\nK=" + std::string(1024, 'a') + "\n", "S", "K", std::string(1023, 'a')},
        {"long value", "[S]\nK=" + std::string(70000, 'a') + "\n", "S", "K", std::string(1023, 'a')},
        {"quotes before the cap", "[S]\nK=" + quoted1024 + "\n", "S", "K", std::string(1023, 'q')},
        {"cap keeps a whole character", "[S]\nK=" + std::string(1022, 'a') + "\xC3\xA9\n", "S", "K",
         std::string(1022, 'a')},
        {"character that fits", "[S]\nK=" + std::string(1021, 'a') + "\xC3\xA9\n", "S", "K",
         std::string(1021, 'a') + "\xC3\xA9"},
        {"four-byte character", "[S]\nK=" + std::string(1020, 'a') + "\xF0\x9F\x98\x80\n", "S", "K",
         std::string(1020, 'a')},
        {"stray continuation bytes count alone", "[S]\nK=" + std::string(1023, '\x80') + "\x80\n", "S", "K",
         std::string(1023, '\x80')},
    };
    return cases;
}

TEST(ProfileLookup, FollowsTheWindowsRules) {
    for (const LookupCase& c : lookupCases()) {
        EXPECT_EQ(findProfileValue(c.text, c.section, c.key), c.expected) << c.name;
    }
}

#ifdef _WIN32
TEST_F(ProfileFileTest, TableAgreesWithThePlatformCall) {
    // Rows where Pictrove departs on purpose from the call as Wine has it:
    // a value cut at the cap keeps whole UTF-8 characters, and a zero byte,
    // an empty section name or junk before the first line count as text.
    const std::vector<std::string> departures = {"empty section name", "zero byte in a name",
                                                 "garbage before", "cap keeps a whole character",
                                                 "four-byte character"};
    for (const LookupCase& c : lookupCases()) {
        if (std::find(departures.begin(), departures.end(), c.name) != departures.end()) continue;
        const std::string path = write("platform.ini", c.text);
        char buffer[1024];
        const DWORD copied =
            GetPrivateProfileStringA(c.section, c.key, "\x01", buffer, sizeof buffer, path.c_str());
        const std::optional<std::string> platform =
            copied == 1 && buffer[0] == '\x01' ? std::nullopt : std::optional(std::string(buffer, copied));
        EXPECT_EQ(platform, c.expected) << c.name;
    }
}
#endif

// The lookup rules spelled out line by line, the slow and obvious way, as a
// second opinion on the scanner.
std::optional<std::string> referenceLookup(std::string text, std::string_view section, std::string_view key) {
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    const auto lower = [](std::string_view s) {
        std::string out(s);
        for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        return out;
    };
    const auto trim = [](std::string_view s) {
        while (!s.empty() && std::string_view(" \t\v\f").find(s.front()) != std::string_view::npos)
            s.remove_prefix(1);
        while (!s.empty() && std::string_view(" \t\v\f").find(s.back()) != std::string_view::npos)
            s.remove_suffix(1);
        return s;
    };
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.emplace_back();
        } else {
            lines.back() += text[i];
        }
    }
    int state = 0;  // 0 before the section, 1 in it
    for (const std::string& whole : lines) {
        const std::string_view line = trim(whole);
        const std::size_t close = line.find(']');
        if (!line.empty() && line.front() == '[' && close != std::string_view::npos) {
            if (state == 1) return std::nullopt;
            if (lower(trim(line.substr(1, close - 1))) == lower(section)) state = 1;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (state == 1 && lower(trim(line.substr(0, equals))) == lower(key)) {
            if (equals == std::string_view::npos) return std::nullopt;
            std::string_view value = trim(line.substr(equals + 1));
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            value = value.substr(0, value.find('\0'));
            return std::string(value.substr(0, kMaxValueBytes));
        }
    }
    return std::nullopt;
}

TEST(ProfileLookup, AgreesWithTheRulesOnRandomText) {
    // Pieces that make headers, keys, values and endings likely, with stray
    // bytes between them.
    const std::vector<std::string> pieces = {"[S]\n",
                                             " [ s ] x\r\n",
                                             "[T]\r",
                                             "[]\n",
                                             "K=v\n",
                                             " k = ' a ' \r\n",
                                             "s=\n",
                                             "K\n",
                                             "s = \"b\"\r",
                                             "K==\n",
                                             "[",
                                             "]",
                                             "K",
                                             "s",
                                             " ",
                                             "\t",
                                             "=",
                                             "v",
                                             "\"",
                                             "'",
                                             "\r",
                                             "\n",
                                             "\r\n",
                                             "\xEF\xBB\xBF",
                                             std::string(1, '\0'),
                                             "\x80",
                                             ";"};
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> length(0, 60);
    int found = 0;
    for (int round = 0; round < 5000; ++round) {
        std::string text;
        for (int n = length(random); n > 0; --n) text += pieces[pick(random)];
        for (const char* section : {"", "S", "t"}) {
            for (const char* key : {"K", "s"}) {
                const auto expected = referenceLookup(text, section, key);
                found += expected.has_value();
                ASSERT_EQ(findProfileValue(text, section, key), expected)
                    << ::testing::PrintToString(text) << " [" << section << "] " << key;
            }
        }
    }
    EXPECT_GT(found, 3000);  // the text finds values often enough to count
}

TEST_F(ProfileFileTest, ReadsTheFileAtEveryLookup) {
    const std::string path = write("réglages 中.ini", "[S]\nK=1\n");
    EXPECT_EQ(readProfileString(path, "S", "K", "d"), "1");
    write("réglages 中.ini", "[S]\r\nK = 2 \r\n");
    EXPECT_EQ(readProfileString(path, "S", "K", "d"), "2");
    fs::remove(pathFromUtf8(path));
    EXPECT_EQ(readProfileString(path, "S", "K", "d"), "d");
}

TEST_F(ProfileFileTest, DefaultLosesTrailingBlanksOnly) {
    const std::string path = write("a.ini", "[S]\n");
    EXPECT_EQ(readProfileString(path, "S", "K", "  ^ \t "), "  ^");
    EXPECT_EQ(readProfileString(path, "S", "K", ""), "");
    EXPECT_EQ(readProfileString(path, "S", "K", std::string(2000, 'd')), std::string(1023, 'd'));
}

TEST_F(ProfileFileTest, ThingsThatAreNoFileGiveTheDefault) {
    EXPECT_EQ(readProfileString((folder_ / "missing.ini").string(), "S", "K", "d"), "d");
    fs::create_directory(folder_ / "folder.ini");
    EXPECT_EQ(readProfileString((folder_ / "folder.ini").string(), "S", "K", "d"), "d");
#ifndef _WIN32
    // A pipe with no writer would block an ordinary open for ever.
    const fs::path pipe = folder_ / "pipe.ini";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(readProfileString(pipe.string(), "S", "K", "d"), "d");
    EXPECT_EQ(readProfileString("/dev/zero", "S", "K", "d"), "d");
#else
    EXPECT_EQ(readProfileString("NUL", "S", "K", "d"), "d");
#endif
}

TEST_F(ProfileFileTest, HugeFileIsReadOnlyAtItsStart) {
    const std::string path = write("huge.ini", "[S]\nFirst=1\n");
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out << std::string(kMaxFileBytes - 40, '\n') << "Cut=" << std::string(100, 'c') << "\n";
        out << "Late=2\n";
    }
    // Gigabytes of nothing after that, without taking the disk.
    fs::resize_file(path, std::uintmax_t{3} << 30);
    const auto started = std::chrono::steady_clock::now();
    const auto text = readProfileText(path);
    ASSERT_TRUE(text);
    EXPECT_LE(text->size(), kMaxFileBytes);
    EXPECT_EQ(readProfileString(path, "S", "First", "d"), "1");
    // The line the cap cuts is not seen half; the lines after it not at all.
    EXPECT_EQ(readProfileString(path, "S", "Cut", "d"), "d");
    EXPECT_EQ(readProfileString(path, "S", "Late", "d"), "d");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST_F(ProfileFileTest, FileOfExactlyTheCapKeepsItsLastLine) {
    std::string text = "[S]\n";
    text += std::string(kMaxFileBytes - text.size() - 4, ' ') + "\nK=v";
    ASSERT_EQ(text.size(), kMaxFileBytes);
    EXPECT_EQ(readProfileString(write("exact.ini", text), "S", "K", "d"), "v");
    EXPECT_EQ(readProfileString(write("over.ini", text + "w"), "S", "K", "d"), "d");
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines(1);
    for (const char c : text) {
        if (c == '\n') {
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

// Only one line of `before` may be replaced by, or only one line added as,
// one line of `after`.
bool differsInOneLine(const std::string& before, const std::string& after) {
    const auto a = linesOf(before);
    const auto b = linesOf(after);
    std::size_t front = 0;
    while (front < a.size() && front < b.size() && a[front] == b[front]) ++front;
    std::size_t back = 0;
    while (back < a.size() - front && back < b.size() - front &&
           a[a.size() - 1 - back] == b[b.size() - 1 - back])
        ++back;
    return b.size() - front - back == 1 && a.size() - front - back <= 1;
}

struct EditCase {
    const char* name;
    std::string before;
    std::vector<ProfileChange> changes;
    std::string after;
};

TEST(ProfileEdit, ChangesOnlyWhatIsAsked) {
    const std::vector<EditCase> cases = {
        {"in place, comment and spacing kept",
         "; mine\r\n[Captions]\r\nTitle = Old \r\n\r\n[Menu]\r\n",
         {{"captions", "TITLE", "New"}},
         "; mine\r\n[Captions]\r\nTitle = New\r\n\r\n[Menu]\r\n"},
        {"new key ends its section, before the blank line",
         "[Captions]\nTitle=a\n\n[Menu]\n",
         {{"Captions", "Dialog", "d"}},
         "[Captions]\nTitle=a\nDialog=d\n\n[Menu]\n"},
        {"new file gets CR LF", "", {{"Options", "Home", "h"}}, "[Options]\r\nHome=h\r\n"},
        {"new section after a last line without end",
         "[A]\nx=1",
         {{"B", "k", "v"}},
         "[A]\nx=1\n\n[B]\nk=v\n"},
        {"header without line end", "[S]", {{"S", "K", "v"}}, "[S]\r\nK=v\r\n"},
        {"first duplicate key", "[s]\nK=1\nk=2\n", {{"S", "K", "3"}}, "[s]\nK=3\nk=2\n"},
        {"first duplicate section",
         "[S]\nA=1\n[T]\n[S]\nK=2\n",
         {{"S", "K", "9"}},
         "[S]\nA=1\nK=9\n[T]\n[S]\nK=2\n"},
        {"removal takes later copies that would count",
         "[S]\nK=1\nX=0\n k =2\n[T]\nK=3\n",
         {{"S", "K", std::nullopt}},
         "[S]\nX=0\n[T]\nK=3\n"},
        {"removing what is missing",
         "[S]\nX=1\n",
         {{"S", "K", std::nullopt}, {"T", "K", std::nullopt}},
         "[S]\nX=1\n"},
        {"present and empty", "[S]\nK=v\n", {{"S", "K", ""}}, "[S]\nK=\n"},
        {"new key after a closing comment", "[S]\nk=1\n;", {{"S", "n", "v"}}, "[S]\nk=1\n;\nn=v\n"},
        {"bare key gets the value where lookups stop",
         "[S]\n color \t\nCOLOR=1\n",
         {{"S", "Color", "red"}},
         "[S]\n color=red\nCOLOR=1\n"},
        {"bare key removed with its copies",
         "[S]\ncolor\nX=0\ncolor=2\n",
         {{"S", "color", std::nullopt}},
         "[S]\nX=0\n"},
        {"byte order mark and lone CR",
         "\xEF\xBB\xBF[S]\rK=1\r",
         {{"S", "K", "2"}, {"S", "N", "3"}},
         "\xEF\xBB\xBF[S]\rK=2\rN=3\r"},
        {"quotes where blanks or quotes would go",
         "",
         {{"S", "A", "  x "}, {"S", "B", "\"q\""}, {"S", "C", "it's"}, {"S", "D", "'"}},
         "[S]\r\nA=\"  x \"\r\nB=\"\"q\"\"\r\nC=it's\r\nD=\"'\"\r\n"},
        {"binary around the lines",
         "\xFF\xFE\0\x01\n[S]\nK=1\n\0\0"_bytes,
         {{"S", "K", "2"}, {"T", "K", "3"}},
         "\xFF\xFE\0\x01\n[S]\nK=2\n\0\0\n\n[T]\nK=3\n"_bytes},
    };
    for (const EditCase& c : cases) {
        const auto edited = editProfileText(c.before, c.changes);
        ASSERT_TRUE(edited.ok()) << c.name << ": " << edited.error().message;
        EXPECT_EQ(*edited, c.after) << c.name;
    }
}

TEST(ProfileEdit, EveryKeyAndValueReadsBackAsWritten) {
    namespace builtin = settings_defaults;
    std::vector<std::pair<std::string, std::string>> keys = {{"Captions", "Title"}, {"Captions", "Dialog"}};
    for (const auto& caption : builtin::kMenuCaptions) keys.emplace_back("Menu", caption.key);
    for (const auto& caption : builtin::kOriginalMenuCaptions) keys.emplace_back("Menu", caption.key);
    for (const char* key :
         {"EditMask", "ShowFileNames", "HelpFile", "Default", "Open", "Home", "Mail", "Color"})
        keys.emplace_back("Options", key);
    for (const char* key : {"E1", "E2", "E3", "L1", "L6"})
        keys.emplace_back(key[0] == 'E' ? "Extensions" : "Dialogs", key);
    const std::vector<std::string> values = {"plain",
                                             "",
                                             " lead",
                                             "trail\t",
                                             "\"quoted\"",
                                             "'single'",
                                             "\"",
                                             "a=b=c",
                                             "*.exe;*.dll",
                                             "[x]",
                                             ">   Indented ",
                                             "Gr\xC3\xBC\xC3\x9F\xC3\xA9 \xE2\x9C\x93",
                                             std::string(1023, 'x'),
                                             " " + std::string(1021, 'y') + " ",
                                             std::string(1021, 'z') + "\xC3\xA9"};
    // Comments, odd spacing, duplicates, a section twice, LF endings.
    const std::string base =
        "; Pictrove settings\n[ captions ]\n  title=  Old  \ntitle=Dead\n\n[Menu]\nCopy =C\n;Icon=x\n"
        "[Extensions]\nE1=*.ico\nE3=*.dll\n[Options]\nColor=$FF\nJunk line\n[Captions]\nDialog=Dead\n";
    for (const auto& [section, key] : keys) {
        for (const std::string& value : values) {
            const ProfileChange change{section, key, value};
            const auto edited = editProfileText(base, std::span(&change, 1));
            ASSERT_TRUE(edited.ok()) << key << ": " << edited.error().message;
            EXPECT_EQ(findProfileValue(*edited, section, key), value) << section << key << " " << value;
            // The base has no [Dialogs]: that section goes at its end.
            EXPECT_TRUE(section == "Dialogs" ? edited->rfind(base, 0) == 0 : differsInOneLine(base, *edited))
                << ::testing::PrintToString(*edited);
            EXPECT_EQ(findProfileValue(*edited, "Options", "Color"), key == "Color" ? value : "$FF");
        }
    }
}

TEST(ProfileEdit, RefusesWhatWouldNotReadBack) {
    const std::string nearCap = "[S]\n" + std::string(kMaxFileBytes - 10, ';') + "\n";
    const std::vector<std::pair<std::string, ProfileChange>> cases = {
        {"", {"S", "K", std::string(1024, 'x')}},
        {"", {"S", "K", "two\nlines"}},
        {"", {"S", "K", "cr\r"}},
        {"", {"S", "K", "zero\0"_bytes}},
        {"", {"S", "K=", "v"}},
        {"", {"S]", "K", "v"}},
        {nearCap, {"T", "Key", "grows past the cap"}},
    };
    for (const auto& [text, change] : cases) {
        const auto edited = editProfileText(text, std::span(&change, 1));
        ASSERT_FALSE(edited.ok()) << change.section << "/" << change.key;
        EXPECT_NE(edited.error().message.find(change.key), std::string::npos) << edited.error().message;
    }
}

TEST_F(ProfileFileTest, OpensForEditWhateverStandsThere) {
    const auto missing = loadProfileForEdit((folder_ / "new.ini").string());
    ASSERT_TRUE(missing.ok());
    EXPECT_FALSE(missing->exists);
    fs::create_directory(folder_ / "folder.ini");
    EXPECT_FALSE(loadProfileForEdit((folder_ / "folder.ini").string()).ok());
#ifndef _WIN32  // Windows reports its devices as absent, which is no error
    EXPECT_FALSE(loadProfileForEdit("/dev/zero").ok());
#endif
    const auto wide = loadProfileForEdit(write("wïde.ini", "\xFF\xFE[\0S\0]\0"_bytes));
    ASSERT_TRUE(wide.ok());
    EXPECT_TRUE(wide->exists && wide->wideText && !wide->cutAtCap);
    const auto huge = loadProfileForEdit(write("huge.ini", "[S]\nK=1\n" + std::string(kMaxFileBytes, '\n')));
    ASSERT_TRUE(huge.ok());
    EXPECT_TRUE(huge->cutAtCap && !huge->wideText);
    EXPECT_LE(huge->text.size(), kMaxFileBytes);
}

struct NumberCase {
    const char* text;
    std::optional<std::int32_t> integer;  // the plain integer rule
    std::optional<std::int32_t> number;   // a number key, after the "0x" rewrite
};

TEST(ProfileNumbers, IntegerRuleAndNumberKeys) {
    constexpr std::int32_t kMin = INT32_MIN;
    const std::vector<NumberCase> cases = {
        {"0", 0, 0},
        {"123", 123, 123},
        {"+5", 5, 5},
        {"-5", -5, -5},
        {"00012", 12, 12},
        {"  42", 42, 42},
        {"\t7", 7, 7},
        {"42 ", std::nullopt, std::nullopt},
        {"4 2", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"+", std::nullopt, std::nullopt},
        {"-", std::nullopt, std::nullopt},
        {"+-1", std::nullopt, std::nullopt},
        {"1e3", std::nullopt, std::nullopt},
        {"yes", std::nullopt, std::nullopt},
        {"2147483647", INT32_MAX, INT32_MAX},
        {"2147483648", std::nullopt, std::nullopt},
        {"-2147483648", kMin, kMin},
        {"-2147483649", std::nullopt, std::nullopt},
        {"99999999999999999999999", std::nullopt, std::nullopt},
        {"$FF", 255, 255},
        {"$ff", 255, 255},
        {"$0000FF", 255, 255},
        {"$80000001", kMin + 1, kMin + 1},
        {"$FFFFFFFF", -1, -1},
        {"$00000010", 16, 16},
        {"$100000000", std::nullopt, std::nullopt},
        {"$", std::nullopt, std::nullopt},
        {"$G", std::nullopt, std::nullopt},
        {"$ 1", std::nullopt, std::nullopt},
        {"-$10", std::nullopt, std::nullopt},
        {"0xFF", std::nullopt, 255},
        {"0X10", std::nullopt, 16},
        {"0x1", std::nullopt, 1},
        {"0x80000005", std::nullopt, kMin + 5},
        {"0x", std::nullopt, std::nullopt},
        {"0xG", std::nullopt, std::nullopt},
        {"0x 1", std::nullopt, std::nullopt},
        {"00x1", std::nullopt, std::nullopt},
        {" 0x1", std::nullopt, std::nullopt},
        {"0x123456789", std::nullopt, std::nullopt},
    };
    for (const NumberCase& c : cases) {
        EXPECT_EQ(parseProfileInteger(c.text), c.integer) << '"' << c.text << '"';
        EXPECT_EQ(parseProfileNumber(c.text), c.number) << '"' << c.text << '"';
    }
}

#ifndef _WIN32
// Where a user's own settings file is looked for: $XDG_CONFIG_HOME only when
// it is absolute; a relative one (tilde included: no shell expanded it) is
// as if unset.
TEST(UserConfigFolder, TakesOnlyAnAbsoluteConfigHome) {
    const struct {
        const char* configHome;
        const char* home;
        const char* folder;
    } cases[] = {
        {"/x/conf", "/home/u", "/x/conf"},
        {"/", "", "/"},
        {"", "/home/u", "/home/u/.config"},
        {"rel", "/home/u", "/home/u/.config"},
        {"./rel", "/home/u/", "/home/u/.config"},
        {"~/conf", "/", "/.config"},
        {"rel", "", ""},
        {"", "home/u", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(userConfigFolder(c.configHome, c.home), c.folder) << c.configHome << " " << c.home;
}
#endif

}  // namespace
}  // namespace pictrove
