// The fingerprint record of one file, as `pictrove-cli scan` writes it and
// the Python module's scan returns it: its SHA-256, its icons with their
// difference hashes and group hashes, or the reason it has none.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "engine/sources.h"

namespace pictrove {

struct ScanSettings {
    bool allIcons = false;                 // every icon, not only the main one
    std::optional<std::uint64_t> maxSize;  // larger files get an error record
    std::string collectionExtension = ".ics";
    // Each icon of the record also as a PNG of this many pixels a side, in
    // base64, where it can be drawn.
    std::optional<std::uint32_t> thumbnail;
};

// One record line, and whether it is an error record.
struct ScanRecord {
    std::string line;
    bool failed = false;
};

// The record of the file named `file`. The file is opened once and its hash,
// size and icons all read through that one open file; one whose size or
// change time moved while it was read gets an error record. `whileRead` runs
// after the hash and before the icons are read: for tests, to change the
// file at the worst moment. `hold` hears, before they are read, how many
// bytes the file's contents and then the pixels its icons may decode take.
ScanRecord scanRecord(const std::string& file, const ScanSettings& settings,
                      const std::function<void()>& whileRead = {},
                      const std::function<void(std::uint64_t)>& hold = {});

// The record of content that has no file name (a buffer): the same fields
// but "file", its "size" and "sha256" those of the content.
ScanRecord scanContent(MappedFile content, const ScanSettings& settings);

// The record of a file that could not be read.
ScanRecord errorRecord(const std::string& file, const std::string& message);

// The name a record was written for: its exact bytes where they are not
// UTF-8; nothing for a record without a usable name.
std::optional<std::string> recordFileName(const nlohmann::ordered_json& record);

// `bytes` in base64, and back; nothing for text that is not base64.
std::string base64(std::string_view bytes);
std::optional<std::string> fromBase64(std::string_view text);

// A record as one line of JSON; what is not UTF-8 comes out as U+FFFD.
std::string jsonLine(const nlohmann::ordered_json& json);

// Writes the name of `file` into `record`, its bytes beside it where they
// are not UTF-8.
void putFileName(nlohmann::ordered_json& record, const std::string& file);

// The difference hash of the icon as shown at the system icon size; nothing
// when it cannot be decoded.
std::optional<std::uint64_t> iconDhash(const SourceIcon& icon);

// The SHA-256 of the group file (`extract --group-ico`) of the icon, in
// hexadecimal; nothing where there is no such file.
std::optional<std::string> groupSha256(const SourceIcon& icon);

}  // namespace pictrove
