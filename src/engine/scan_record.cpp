#include "engine/scan_record.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string_view>

#include "engine/icon_picture.h"
#include "fingerprint/dhash.h"
#include "fingerprint/sha256.h"
#include "group_file.h"
#include "icon_source/icon_file.h"
#include "mapped_file.h"
#include "path_text.h"

namespace pictrove {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string base64(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < n ? static_cast<std::uint8_t>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k) text += k <= n ? kBase64[group >> (18 - 6 * k) & 63] : '=';
    }
    return text;
}

std::optional<std::string> fromBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t group = 0;
        std::size_t padding = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            const std::size_t value = kBase64.find(c);
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                ++padding;
            } else if (value == std::string_view::npos || padding) {
                return std::nullopt;
            }
            group = group << 6 | (value == std::string_view::npos ? 0u : static_cast<std::uint32_t>(value));
        }
        for (std::size_t k = 0; k < 3 - padding; ++k)
            bytes += static_cast<char>(group >> (16 - 8 * k) & 0xFF);
    }
    return bytes;
}

namespace {

bool isUtf8(const std::string& text) {
    try {
        (void)Json(text).dump();
        return true;
    } catch (const Json::type_error&) {
        return false;
    }
}

Json iconJson(const Source& source, std::size_t index, const ScanSettings& settings) {
    const SourceIcon& icon = source.icons[index];
    Json entry = {{"index", index}};
    if (icon.name && icon.name->id) entry["id"] = *icon.name->id;
    if (icon.name && !icon.name->id) entry["id"] = icon.name->name;
    const auto dhash = iconDhash(icon);
    entry["dhash"] = dhash ? Json(dhashText(*dhash)) : Json(nullptr);
    const auto group = groupSha256(icon);
    entry["group_sha256"] = group ? Json(*group) : Json(nullptr);
    auto& images = entry["images"] = Json::array();
    for (const IconImage& image : icon.images) {
        Json stored = {{"w", image.info.width},
                       {"h", image.info.height},
                       {"bits", image.info.bits},
                       {"png", image.info.png}};
        if (const auto offset = source.offsetOf ? source.offsetOf(image) : std::nullopt) {
            stored["offset"] = *offset;
            stored["length"] = imageBytes(image).size();
        }
        images.push_back(std::move(stored));
    }
    if (settings.thumbnail) {
        if (const auto png = iconPng(source, icon, *settings.thumbnail))
            entry["thumbnail"] = base64({reinterpret_cast<const char*>(png->data()), png->size()});
    }
    return entry;
}

// What decoding the icons a record describes may hold at once: every image
// of theirs, as far as the file's pixel budget lets them be decoded (an
// image several groups name stays decoded), and the scaler's copy of the
// largest in floating point; with thumbnails, also the one picture drawn at
// a time: its pixels, the scaler's rows in floating point and its PNG.
std::uint64_t decodingBytes(const Source& source, const ScanSettings& settings, std::uint64_t fileSize) {
    constexpr std::uint64_t kBytesPerPixel = 4;
    constexpr std::uint64_t kScalerBytesPerPixel = 16;
    constexpr std::uint64_t kPictureBytesPerPixel = kBytesPerPixel + kScalerBytesPerPixel + kBytesPerPixel;
    const std::size_t icons =
        settings.allIcons ? source.icons.size() : std::min<std::size_t>(1, source.icons.size());
    std::uint64_t pixels = 0;
    std::uint64_t largest = 0;
    for (std::size_t i = 0; i < icons; ++i) {
        for (const IconImage& image : source.icons[i].images) {
            const std::uint64_t each =
                std::min(std::uint64_t{image.info.width} * image.info.height, limits::kMaxImagePixels);
            pixels += each;
            largest = std::max(largest, each);
        }
    }
    const std::uint64_t side = settings.thumbnail.value_or(0);
    return std::min(pixels, decodeBudget(fileSize)) * kBytesPerPixel + largest * kScalerBytesPerPixel +
           side * side * kPictureBytesPerPixel;
}

}  // namespace

std::string jsonLine(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

// The name as readable text, and its exact bytes beside it where they are
// not UTF-8: no two files share a record name, and every reader of records
// gets back the name that opens the file.
void putFileName(Json& record, const std::string& file) {
    record["file"] = file;
    if (!isUtf8(file)) record["file_bytes"] = base64(file);
}

// The name a record was written for.
std::optional<std::string> recordFileName(const Json& record) {
    if (const auto bytes = record.find("file_bytes"); bytes != record.end()) {
        if (!bytes->is_string()) return std::nullopt;
        return fromBase64(bytes->get<std::string>());
    }
    if (const auto file = record.find("file"); file != record.end() && file->is_string())
        return file->get<std::string>();
    return std::nullopt;
}

static ScanRecord errorRecordOf(const std::string& message) {
    return {jsonLine(Json{{"error", message}}), true};
}

ScanRecord errorRecord(const std::string& file, const std::string& message) {
    Json record;
    putFileName(record, file);
    record["error"] = message;
    return {jsonLine(record), true};
}

std::optional<std::uint64_t> iconDhash(const SourceIcon& icon) {
    const auto shown = icon.icon(kIconSize);
    return shown ? std::optional(differenceHash(*shown)) : std::nullopt;
}

std::optional<std::string> groupSha256(const SourceIcon& icon) {
    // Hashed as it is produced: a group naming one large image many times
    // over makes a file of up to 256 MiB, never held.
    Sha256 group;
    const bool written = writeGroupFile(IconGroup{icon.name, icon.images},
                                        [&](std::span<const std::uint8_t> bytes) { group.update(bytes); });
    return written ? std::optional(hexText(group.finish())) : std::nullopt;
}

namespace {

// The record of one source: what is known of its file (`file` empty for
// content without a name) and its icons. Whether the bytes read stayed those
// of one file is the caller's to tell (`unchanged`).
ScanRecord recordOf(const std::string* file, const FileDigest& digest, Source& source,
                    const ScanSettings& settings, const std::function<bool()>& unchanged) {
    Json record;
    if (file) putFileName(record, *file);
    record["size"] = digest.size;
    record["sha256"] = hexText(digest.sha256);
    record["kind"] = source.kind;
    record["icons"] = source.icons.size();
    if (!source.redirectedTo.empty()) record["from"] = source.redirectedTo;
    if (!source.icons.empty()) {
        Json main = iconJson(source, 0, settings);
        if (settings.allIcons) {
            auto all = Json::array();
            all.push_back(main);
            for (std::size_t i = 1; i < source.icons.size(); ++i)
                all.push_back(iconJson(source, i, settings));
            record["main"] = std::move(main);
            record["all"] = std::move(all);
        } else {
            record["main"] = std::move(main);
        }
    }
    // What was read of it must all be of one file.
    if (!unchanged())
        return errorRecord(file ? *file : "",
                           "Cannot read file " + (file ? *file : "") + ": changed while read");
    // The intact icons are recorded; the record says the rest is damaged,
    // or was not decoded, and why.
    std::vector<std::string> errors;
    if (!source.damage.empty()) errors.push_back(source.damage);
    if (source.decodeBudgetPassed()) errors.push_back(kDecodeBudgetPassed);
    const std::size_t recorded =
        settings.allIcons ? source.icons.size() : std::min<std::size_t>(1, source.icons.size());
    for (std::size_t i = 0; i < recorded; ++i) {
        if (const std::string why = whyNotMade(source.icons[i].images); !why.empty()) {
            errors.push_back("icon " + std::to_string(i) + " cannot be decoded: " + why);
            break;
        }
    }
    if (errors.empty()) return {jsonLine(record), false};
    std::string error = errors.front();
    for (std::size_t i = 1; i < errors.size(); ++i) error += "; " + errors[i];
    record["error"] = std::move(error);
    return {jsonLine(record), true};
}

}  // namespace

ScanRecord scanRecord(const std::string& file, const ScanSettings& settings,
                      const std::function<void()>& whileRead,
                      const std::function<void(std::uint64_t)>& hold) {
    if (file.empty()) return errorRecord(file, "empty file name");
    try {
        auto opened = OpenedFile::open(pathFromUtf8(file));
        if (!opened) return errorRecord(file, opened.error().message);
        if (settings.maxSize && opened->size() > *settings.maxSize)
            return errorRecord(file, "larger than --max-size (" + std::to_string(opened->size()) + " bytes)");
        auto digest = opened->digest();
        if (!digest) return errorRecord(file, digest.error().message);
        if (whileRead) whileRead();
        // The hash held no more than a block; the icons may hold the file.
        if (hold) hold(std::min(opened->size(), limits::kMaxFileView));
        auto bytes = opened->bytes();
        if (!bytes) return errorRecord(file, bytes.error().message);
        auto source = openSource(std::move(*bytes), file, settings.collectionExtension);
        if (!source) return errorRecord(file, source.error().message);
        if (hold) hold(decodingBytes(*source, settings, opened->size()));
        return recordOf(&file, *digest, *source, settings, [&] { return opened->unchanged(); });
    } catch (const std::bad_alloc&) {
        return errorRecord(file, "out of memory");
    } catch (const std::runtime_error& error) {  // no library to hash with
        return errorRecord(file, error.what());
    }
}

ScanRecord scanContent(MappedFile content, const ScanSettings& settings) {
    try {
        const Bytes bytes = content.bytes();
        FileDigest digest;
        digest.size = bytes.size();
        digest.sha256 = sha256Of({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
        auto source = openUnnamedSource(std::move(content), settings.collectionExtension);
        if (!source) return errorRecordOf(source.error().message);
        return recordOf(nullptr, digest, *source, settings, [] { return true; });
    } catch (const std::bad_alloc&) {
        return errorRecordOf("out of memory");
    } catch (const std::runtime_error& error) {
        return errorRecordOf(error.what());
    }
}

}  // namespace pictrove
