#include "profile_writer.h"

#include <filesystem>
#include <vector>

#include "path_text.h"
#include "profile.h"
#include "profile_text.h"

namespace pictrove {
namespace {

using namespace profile_text;
using profile_limits::kMaxFileBytes;
using profile_limits::kMaxValueBytes;

// One line of the text: its content [begin, contentEnd) and its line end
// [contentEnd, end), which the last line may lack.
struct Line {
    std::size_t begin;
    std::size_t contentEnd;
    std::size_t end;
};

std::size_t bodyStart(std::string_view text) {
    return text.substr(0, kUtf8Bom.size()) == kUtf8Bom ? kUtf8Bom.size() : 0;
}

// Lines end at CR LF, LF or a lone CR, as the reader splits them.
std::vector<Line> splitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t at = bodyStart(text);
    while (at < text.size()) {
        std::size_t contentEnd = at;
        while (contentEnd < text.size() && !isLineEnd(text[contentEnd])) ++contentEnd;
        std::size_t end = contentEnd;
        if (end < text.size())
            end += (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
        lines.push_back({at, contentEnd, end});
        at = end;
    }
    return lines;
}

std::string_view content(std::string_view text, const Line& line) {
    return text.substr(line.begin, line.contentEnd - line.begin);
}

// The name of a "[name]" line; text after the first "]" does not count.
std::optional<std::string_view> headerName(std::string_view line) {
    line = trimLeft(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trim(line.substr(1, close - 1));
}

// A line of the key: "key=value", or the key's name alone, which lookups
// take for the key without a value.
struct KeyLine {
    std::size_t valueStart;  // past the blanks after "=", or past the bare name
    bool bare;
};

std::optional<KeyLine> keyLineFor(std::string_view line, std::string_view key) {
    const std::size_t equals = line.find('=');
    if (!sameName(trim(line.substr(0, equals)), key)) return std::nullopt;
    if (equals == std::string_view::npos) return KeyLine{trimRight(line).size(), true};
    std::size_t start = equals + 1;
    while (start < line.size() && isBlank(line[start])) ++start;
    return KeyLine{start, false};
}

// The line end new lines get: the text's first one, else CR LF.
std::string_view lineEndingOf(std::string_view text) {
    const std::size_t at = text.find_first_of("\r\n");
    if (at == std::string_view::npos) return "\r\n";
    if (text[at] == '\n') return "\n";
    return text.substr(at + 1, 1) == "\n" ? "\r\n" : "\r";
}

std::string keyName(const ProfileChange& change) {
    return "[" + change.section + "] " + change.key;
}

// Names that would not read back as themselves are the caller's mistake,
// but cost nothing to turn away.
bool writableName(std::string_view name, bool isSection) {
    if (name != trim(name)) return false;
    for (const char c : name) {
        if (isLineEnd(c) || c == '\0' || c == (isSection ? ']' : '=')) return false;
    }
    return isSection || (!name.empty() && name.front() != '[');
}

class ProfileEditor {
public:
    explicit ProfileEditor(std::string text) : text_(std::move(text)), eol_(lineEndingOf(text_)) {}

    void apply(const ProfileChange& change) {
        const std::vector<Line> lines = splitLines(text_);
        std::size_t header = 0;
        while (header < lines.size() && !sameSection(lines[header], change.section)) ++header;
        if (header == lines.size()) {
            if (change.value) appendSection(change);
            return;
        }
        std::size_t sectionEnd = header + 1;
        while (sectionEnd < lines.size() && !headerName(content(text_, lines[sectionEnd]))) ++sectionEnd;
        if (!change.value) {
            removeKey(lines, header + 1, sectionEnd, change.key);
        } else if (!replaceValue(lines, header + 1, sectionEnd, change)) {
            insertKey(lines, header, sectionEnd, change);
        }
    }

    const std::string& text() const { return text_; }

private:
    bool sameSection(const Line& line, std::string_view section) const {
        const auto name = headerName(content(text_, line));
        return name && sameName(*name, section);
    }

    bool replaceValue(const std::vector<Line>& lines, std::size_t first, std::size_t last,
                      const ProfileChange& change) {
        for (std::size_t i = first; i < last; ++i) {
            if (const auto keyLine = keyLineFor(content(text_, lines[i]), change.key)) {
                // A bare name is where lookups stop, so it gets the value;
                // a line added below it would never be read.
                const std::size_t at = lines[i].begin + keyLine->valueStart;
                text_.replace(at, lines[i].contentEnd - at,
                              (keyLine->bare ? "=" : "") + profileValueText(*change.value));
                return true;
            }
        }
        return false;
    }

    void removeKey(const std::vector<Line>& lines, std::size_t first, std::size_t last,
                   std::string_view key) {
        for (std::size_t i = last; i > first; --i) {
            const Line& line = lines[i - 1];
            if (keyLineFor(content(text_, line), key)) text_.erase(line.begin, line.end - line.begin);
        }
    }

    // After the section's last line that is not blank, so that blank lines
    // before the next section stay where they are.
    void insertKey(const std::vector<Line>& lines, std::size_t header, std::size_t last,
                   const ProfileChange& change) {
        std::size_t after = header;
        for (std::size_t i = header + 1; i < last; ++i) {
            if (!trim(content(text_, lines[i])).empty()) after = i;
        }
        std::string added = change.key + "=" + profileValueText(*change.value) + std::string(eol_);
        if (lines[after].contentEnd == lines[after].end) added.insert(0, eol_);
        text_.insert(lines[after].end, added);
    }

    void appendSection(const ProfileChange& change) {
        std::string added;
        if (text_.size() > bodyStart(text_)) {
            if (!isLineEnd(text_.back())) added += eol_;
            added += eol_;
        }
        added += "[" + change.section + "]" + std::string(eol_);
        added += change.key + "=" + profileValueText(*change.value) + std::string(eol_);
        text_ += added;
    }

    std::string text_;
    std::string eol_;
};

bool startsWithUtf16Bom(std::string_view bytes) {
    return bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF";
}

}  // namespace

std::optional<std::string> profileValueProblem(std::string_view value) {
    if (value.size() > kMaxValueBytes)
        return "it is longer than the " + std::to_string(kMaxValueBytes) + " bytes Pictrove reads";
    if (value.find_first_of("\r\n") != std::string_view::npos) return "it holds a line break";
    if (value.find('\0') != std::string_view::npos) return "it holds a zero character";
    return std::nullopt;
}

std::string profileValueText(std::string_view value) {
    if (value.empty()) return {};
    const auto isQuote = [](char c) { return c == '"' || c == '\''; };
    // Quoting is always safe: the reader removes one pair, and only after
    // trimming, so everything inside stays.
    if (isBlank(value.front()) || isBlank(value.back()) || isQuote(value.front()) || isQuote(value.back()))
        return "\"" + std::string(value) + "\"";
    return std::string(value);
}

Result<std::string> editProfileText(std::string_view text, std::span<const ProfileChange> changes) {
    ProfileEditor editor{std::string(text)};
    for (const ProfileChange& change : changes) {
        if (!writableName(change.section, true) || !writableName(change.key, false))
            return Error{ErrorCode::invalidFormat, "Cannot write the key " + keyName(change) + "."};
        if (change.value) {
            if (const auto problem = profileValueProblem(*change.value))
                return Error{ErrorCode::invalidFormat,
                             "The value of " + keyName(change) + " cannot be saved: " + *problem + "."};
        }
        editor.apply(change);
        const std::string_view seen = visibleProfileText(editor.text());
        if (findProfileValue(seen, change.section, change.key) != change.value) {
            const bool tooLong = editor.text().size() > kMaxFileBytes;
            return Error{ErrorCode::invalidFormat,
                         "The settings file cannot be changed so that Pictrove reads " + keyName(change) +
                             " as written" +
                             (tooLong ? ": it would grow past the " + std::to_string(kMaxFileBytes >> 20) +
                                            " MiB that Pictrove reads."
                                      : ".")};
        }
    }
    return editor.text();
}

Result<ProfileForEdit> loadProfileForEdit(const std::string& path) {
    ProfileForEdit loaded;
    std::error_code error;
    const auto status = std::filesystem::status(pathFromUtf8(path), error);
    if (!std::filesystem::exists(status)) return loaded;
    auto bytes = readFileStart(path, kMaxFileBytes + 1);
    if (!bytes)
        return Error{ErrorCode::cannotOpen,
                     "Cannot open file " + path + ": it is not a file that can be read"};
    loaded.exists = true;
    loaded.wideText = startsWithUtf16Bom(*bytes);
    loaded.text = std::string(visibleProfileText(*bytes));
    loaded.cutAtCap = loaded.text.size() < bytes->size();
    return loaded;
}

}  // namespace pictrove
