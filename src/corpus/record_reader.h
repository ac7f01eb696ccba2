// Reading back the records `scan` writes, whatever their spacing and key
// order: what the searches and the index need of one record line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pictrove::corpus {

struct RecordIcon {
    std::size_t index = 0;               // 0 where the record gives none
    std::optional<std::uint64_t> dhash;  // none for an icon that could not be drawn
    std::optional<std::array<std::uint8_t, 32>> groupSha256;
    bool main = false;  // the record's "main" icon, else one of "all"
};

struct RecordIcons {
    std::string file;  // the exact name, from file_bytes where the record has it
    std::vector<RecordIcon> icons;
    bool hasAll = false;  // the record lists every icon
};

// The record on `line`; nothing when the line is no scan record (not JSON,
// not an object, no name, an icon that is not an object or a hash that is not
// 16 hex digits or null).
std::optional<RecordIcons> readRecord(std::string_view line);

// The 32 bytes of a SHA-256 given as 64 hex digits.
std::optional<std::array<std::uint8_t, 32>> parseSha256(std::string_view text);

// Whether an icon is one a search compares: the main icon stands for its
// file, unless every icon is asked for and the record holds them all.
inline bool compared(const RecordIcon& icon, const RecordIcons& record, bool allIcons) {
    return allIcons && record.hasAll ? !icon.main : icon.main;
}

}  // namespace pictrove::corpus
