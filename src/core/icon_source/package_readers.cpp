// What the core knows of installer databases, app packages and AppImages
// itself: their first bytes and the names of an installer's streams. Their
// reading is handed to each kind's module (format_module.h), loaded
// from the module folder the first time it is needed.
#include <string>
#include <string_view>

#include "icon_source/format_module.h"
#include "icon_source/readers.h"
#include "module_loader.h"

namespace pictrove {

bool isZipFile(Bytes head) {
    return hasTagAt(head, 0, "PK\x03\x04");
}

// Type 2 (SquashFS) or type 1 (ISO 9660).
bool isAppImage(Bytes head) {
    return hasTagAt(head, 0,
                    "\x7F"
                    "ELF") &&
           (hasTagAt(head, 8, "AI\x02") || hasTagAt(head, 8, "AI\x01"));
}

bool isCompoundFile(Bytes head) {
    return hasTagAt(head, 0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
}

namespace {

// --- names of streams ----------------------------------------------------

// The installer packs two characters of [0-9A-Za-z._] into one of the
// range U+3800..U+47FF, one alone into U+4800..U+483F; a table's stream
// name starts with U+4840. As UTF-8, the way libgsf gives names.
int packedValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 36;
    if (c == '.') return 62;
    if (c == '_') return 63;
    return -1;
}

// A packed character, U+3800 to U+4840: three bytes of UTF-8.
void appendPacked(std::string& out, std::uint32_t c) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
}

}  // namespace

std::string msiStreamName(std::string_view name, bool table) {
    std::string out;
    if (table) appendPacked(out, 0x4840);
    for (std::size_t i = 0; i < name.size(); ++i) {
        const int first = packedValue(name[i]);
        if (first < 0) {
            out += name[i];
            continue;
        }
        const int second = i + 1 < name.size() ? packedValue(name[i + 1]) : -1;
        if (second < 0) {
            appendPacked(out, 0x4800 + static_cast<std::uint32_t>(first));
        } else {
            appendPacked(out, 0x3800 + static_cast<std::uint32_t>(first + (second << 6)));
            ++i;
        }
    }
    return out;
}

namespace {

// The module of each kind, where the build made it; a kind whose module the
// build did not make is no kind this build reads.
#ifdef PICTROVE_HAVE_MSI_MODULE
constexpr const char* kMsiBuilt = kMsiModule;
#else
constexpr const char* kMsiBuilt = nullptr;
#endif
#ifdef PICTROVE_HAVE_APPX_MODULE
constexpr const char* kAppxBuilt = kAppxModule;
#else
constexpr const char* kAppxBuilt = nullptr;
#endif
#ifdef PICTROVE_HAVE_APPIMAGE_MODULE
constexpr const char* kAppImageBuilt = kAppImageModule;
#else
constexpr const char* kAppImageBuilt = nullptr;
#endif

// The reader of `module`: one the build made that is missing at run time,
// or a module it needs in turn, throws ModuleError.
std::optional<std::vector<IconGroup>> readThrough(const char* module, const FileView& file, MadeBytes& made,
                                                  std::size_t groupLimit) {
    if (!module) return std::nullopt;
    const auto& reader =
        *static_cast<const FormatReader*>(loadModuleTable(module, kFormatModuleEntry, sizeof(FormatReader)));
    ReadNotes notes;
    auto groups = reader.read ? reader.read(file, made, groupLimit, notes) : std::nullopt;
    if (!notes.unloaded.empty()) throw ModuleError(notes.unloaded);
    return groups;
}

}  // namespace

std::optional<std::vector<IconGroup>> readMsiIcons(const FileView& file, MadeBytes& made,
                                                   std::size_t groupLimit) {
    return readThrough(kMsiBuilt, file, made, groupLimit);
}

std::optional<std::vector<IconGroup>> readAppxIcons(const FileView& file, MadeBytes& made,
                                                    std::size_t groupLimit) {
    return readThrough(kAppxBuilt, file, made, groupLimit);
}

std::optional<std::vector<IconGroup>> readAppImageIcons(const FileView& file, MadeBytes& made,
                                                        std::size_t groupLimit) {
    return readThrough(kAppImageBuilt, file, made, groupLimit);
}

}  // namespace pictrove
