// Profile files ("settings.ini"): sections in square brackets, then
// key=value lines. Lookups follow the Windows profile functions, so a
// settings file written for the Windows build reads the same everywhere:
//
// - section and key names match without regard to ASCII letter case, and
//   blanks around them do not count;
// - blanks around a value are removed, then one pair of matching quotes
//   (double or single) around the whole value;
// - a value holds at most 1023 bytes (the 1024-byte buffer of the Windows
//   call, less its terminating zero), and stops at a zero byte;
// - a missing file, section or key gives the caller's default; a key with
//   nothing after "=" gives the empty text; a line holding the key's name
//   without any "=" is that key without a value, so it too gives the
//   default, and a later line of the key does not count;
// - when a section name or a key appears twice, the first one counts: the
//   lookup never goes on into a later section of the same name;
// - lines end in CR LF, LF or a lone CR; a UTF-8 byte order mark is skipped.
//
// Nothing is cached: every lookup reads the file again, so an outside
// program (the configurator) may change it between two lookups.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pictrove {

namespace profile_limits {
// Only the start of a settings file is looked at; a real one is a few
// kilobytes, and each lookup reads it afresh. Lines past this point, and the
// line cut by it, are treated as absent.
inline constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;
// The longest value a lookup returns.
inline constexpr std::size_t kMaxValueBytes = 1023;
}  // namespace profile_limits

// The value of `key` in the first section named `section` of profile text,
// or nothing when the section or the key is missing.
std::optional<std::string> findProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

// The first kMaxFileBytes of a plain file, cut back to its last complete
// line when the file is longer. Nothing when the file cannot be opened or is
// not a plain file (a folder, a pipe, a device).
std::optional<std::string> readProfileText(const std::string& path);

// Up to `limit` bytes from the start of a plain file; nothing as above.
std::optional<std::string> readFileStart(const std::string& path, std::size_t limit);

// The part of a file's bytes that lookups see: all of them up to
// kMaxFileBytes; of a longer file, the whole lines within that many bytes.
std::string_view visibleProfileText(std::string_view bytes);

// One lookup in the file at `path`, read afresh; `fallback` when the file,
// the section or the key is missing. The fallback loses its trailing blanks
// and is capped like a value, as the Windows call treats its default.
std::string readProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view fallback);

// The integer rule of the settings file: leading blanks, then either an
// optional sign and decimal digits within the signed 32-bit range, or "$"
// and one to eight hexadecimal digits taken as a 32-bit pattern. Nothing may
// follow the digits.
std::optional<std::int32_t> parseProfileInteger(std::string_view text);

// A number key: "0x" or "0X" in front of a longer text is read as "$", then
// the integer rule applies.
std::optional<std::int32_t> parseProfileNumber(std::string_view text);

}  // namespace pictrove
