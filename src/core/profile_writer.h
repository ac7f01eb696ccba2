// Changing keys of a settings file in place. Every line that is not a changed
// key stays byte for byte: comments, blank lines, unknown sections and keys,
// their order, the byte order mark and the line endings. Each change is
// checked by reading it back with the profile reader, so what is written is
// exactly what the window will see.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "result.h"

namespace pictrove {

// A new value for [section] key, or no value to remove the key, so that
// lookups fall back to their default.
struct ProfileChange {
    std::string section;
    std::string key;
    std::optional<std::string> value;
};

// Why a value cannot be written so that a lookup gives it back whole, or
// nothing when it can.
std::optional<std::string> profileValueProblem(std::string_view value);

// What follows "=" on a key's line so that a lookup gives `value` back:
// quoted when blanks at either end or quotes around it would be lost.
std::string profileValueText(std::string_view value);

// The text with the changes made one after the other. The first section of
// a name and the first key of a name in it are the ones changed, as they are
// the ones lookups find (a line holding only the key's name is such a key: it
// gets "=" and the value); removing a key removes its later copies in that
// section too, since the next one would count instead. New keys go at the end
// of their section, new sections at the end of the text, both with the text's
// own line ending (CR LF for a text without one). Fails, naming the key, when
// a value cannot be kept or when the result would not read back as changed.
Result<std::string> editProfileText(std::string_view text, std::span<const ProfileChange> changes);

// A settings file as the configurator opens it.
struct ProfileForEdit {
    bool exists = false;
    std::string text;       // what lookups see, and what an edit keeps
    bool cutAtCap = false;  // the file goes on past what lookups see
    bool wideText = false;  // UTF-16, which lookups cannot read
};

// The file at `path`; a missing file is an empty one. Fails when something
// stands there that cannot be read as a file, so that it is never written
// over unseen.
Result<ProfileForEdit> loadProfileForEdit(const std::string& path);

}  // namespace pictrove
