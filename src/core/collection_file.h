// Pictrove's icon collection file: one 766-byte record per icon, each a
// 16-colour icon file image, then a 13-byte trailer: "Icons" and the
// lower-cased extension of the name the file was saved under, cut or filled
// with blanks to 8 characters. There is no header and no count.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "byte_reader.h"
#include "image/image.h"
#include "mapped_file.h"
#include "result.h"

namespace pictrove {

inline constexpr std::size_t kCollectionRecordSize = 766;
inline constexpr std::size_t kCollectionTrailerSize = 13;

// The trailer for a file saved under `fileName`.
std::array<char, kCollectionTrailerSize> collectionTrailer(std::string_view fileName);

// Whether the last 13 bytes of a file mark it as a collection of the given
// extension (lower-cased, with its "."): the trailer's text, which ends at a
// zero byte, must begin with "Icons" and that extension.
bool isCollectionTrailer(Bytes trailer, std::string_view extension);

// A whole collection file: each image's first 766 bytes (zero-filled when
// shorter), then the trailer.
std::vector<std::uint8_t> buildCollection(const std::vector<std::span<const std::uint8_t>>& images,
                                          std::string_view fileName);

// Records with a resource type other than 0 or 1 are not icons.
bool isAcceptedRecord(std::span<const std::uint8_t> record);

// The icon a record shows at the system icon size, decoded strictly within
// the record's bytes: its best image for type 1 (a visible placeholder when
// the record's directory or image is damaged), the standard application icon
// for type 0.
Image decodeRecordIcon(std::span<const std::uint8_t> record);

// Pictures drawn by the program itself, 32 x 32.
Image applicationIcon();
Image damagedIconPlaceholder();

// Reads the records of one collection file in file order.
class CollectionReader {
public:
    // Opens the file and tests its trailer against `extension`. Errors with
    // the messages the user sees: "Cannot open file %s" when it cannot be
    // opened, "Stream read error" when it is shorter than the trailer. Nothing
    // (and no error) when the trailer does not match.
    static Result<std::optional<CollectionReader>> open(const std::filesystem::path& path,
                                                        std::string_view extension);
    // The same for a file open already. Only the trailer is read; each
    // record is read when it is asked for.
    static Result<std::optional<CollectionReader>> fromFile(MappedFile file, std::string_view extension);

    // The next 766 bytes, which stay in place as long as the reader; false
    // once fewer are left.
    bool next(std::span<const std::uint8_t>& record);

    std::size_t recordCount() const { return static_cast<std::size_t>(file_.size() / kCollectionRecordSize); }

private:
    explicit CollectionReader(MappedFile file) : file_(std::move(file)) {}
    MappedFile file_;
    std::size_t offset_ = 0;
};

}  // namespace pictrove
