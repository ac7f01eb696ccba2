// Rules on file names and command lines, kept apart from any file system so
// they behave the same everywhere and can be tested byte for byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pictrove {

// Characters that end a folder part: the platform's separator, and on Windows
// also the other slash and the drive colon.
bool isFolderSeparator(char c);

// Everything up to and including the last separator; empty when there is none.
std::string folderPart(std::string_view path);

// Everything after the last separator.
std::string fileNamePart(std::string_view path);

// From the last "." of the file name part to its end, lower-cased (ASCII
// only); empty when the name has no ".".
std::string lowerExtension(std::string_view path);

// Lower-cases the ASCII letters A to Z and nothing else.
std::string asciiLower(std::string_view text);

// The path with its extension replaced by `extension` (which starts with a
// "."), or followed by it when the file name has none.
std::string replaceExtension(std::string_view path, std::string_view extension);

// The path as it is when its file name has an extension, else followed by
// `extension` (which starts with a ".").
std::string withDefaultExtension(std::string_view path, std::string_view extension);

// `stem` followed by `suffix`, with the stem cut short, between whole UTF-8
// characters, so that the name takes at most `limit` bytes. The suffix is
// never cut.
std::string fitFileName(std::string_view stem, std::string_view suffix, std::size_t limit);

// The folder of a user's own settings files by the XDG Base Directory rules:
// `configHome` ($XDG_CONFIG_HOME) when it is an absolute path, else ".config"
// in the `home` folder. A relative value is invalid and ignored, so that no
// program reads or writes settings below whatever folder it was started in.
// Empty when neither gives a folder.
std::string userConfigFolder(std::string_view configHome, std::string_view home);

// An error message as the error box shows it: a "." is added when the last
// character sorts after ".".
std::string withFinalPeriod(std::string message);

// Splits a command line the way the Windows start-up code hands out
// arguments: blanks and control characters separate them; a stretch between
// double quotes may hold blanks and the quotes themselves are dropped (so a
// pair of quotes at the start of an argument is skipped). The program's own
// name is the first element.
std::vector<std::string> splitCommandLine(std::string_view line);

}  // namespace pictrove
