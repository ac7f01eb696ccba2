// The icons of one file, as the shell would number them: a count, then one
// icon per index from 0. This is what the icon grid and the command-line tool
// are built on.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "icon_source/icon_group.h"
#include "icon_source/made_bytes.h"
#include "image/decoded_images.h"
#include "image/image.h"
#include "mapped_file.h"
#include "reader_limits.h"
#include "result.h"

namespace pictrove {

// What an executable whose icon resources lie past its end is told by.
inline constexpr const char* kCutShort =
    "the file is damaged: icon resources it names lie past its end (it was cut short); the icons shown are "
    "those still whole";

enum class SourceKind { none, pe32, pe32plus, ne, ico, cur, ani, elf, icns, msi, appx, appimage };

const char* sourceKindName(SourceKind kind);

class IconFile {
public:
    IconFile();  // holds no icons
    // Only a file that cannot be opened is an error; a file that holds no
    // icons, or whose structures are damaged beyond use, has a count of 0.
    // With GroupKind::cursors executables deliver their cursor groups; icon,
    // cursor and animated cursor files are read alike either way.
    // With a `groupLimit`, only that many groups, the first in order, are
    // read and delivered (a thumbnail needs just the first).
    static Result<IconFile> open(const std::filesystem::path& path, GroupKind kind = GroupKind::icons,
                                 std::size_t groupLimit = limits::kMaxIconGroups);
    static IconFile fromFile(MappedFile file, GroupKind kind = GroupKind::icons,
                             std::size_t groupLimit = limits::kMaxIconGroups);

    // As open, but a PE file without groups of the kind asked for hands over
    // to its SystemResources .mun file when one exists, as the shell does.
    static Result<IconFile> openFollowingRedirect(const std::filesystem::path& path,
                                                  GroupKind kind = GroupKind::icons,
                                                  std::size_t groupLimit = limits::kMaxIconGroups);

    // Why its reader stopped short of the whole file (a limit its
    // container passed, damage that spoils all it holds); open() then gives
    // it as its error.
    std::optional<std::string> readFailure() const { return made_ ? made_->failure() : std::nullopt; }

    // What of the file is damaged when the groups are only the intact part
    // of it (an executable cut short); empty when nothing is known to be.
    const std::string& damage() const { return damage_; }

    // The .mun file the groups came from; empty when they are the file's own.
    const std::filesystem::path& redirectedTo() const { return redirectedTo_; }

    // Where stored image bytes lie in the file the groups came from.
    std::optional<std::uint64_t> offsetOf(const FileBytes& data) const;

    SourceKind kind() const { return kind_; }
    // Bytes in the file the groups came from.
    std::uint64_t fileSize() const { return file_.size(); }
    // Closes the file; what was read of it stays (MappedFile::release).
    void releaseFile() const { file_.release(); }
    std::size_t count() const { return groups_.size(); }
    const IconGroup& group(std::size_t index) const { return groups_.at(index); }
    const std::vector<IconGroup>& groups() const { return groups_; }

    // Index, within group(index).images, of the image shown at `size` x
    // `size` (the system icon size unless asked otherwise).
    std::size_t chosenImage(std::size_t index, std::uint32_t size = kIconSize) const;

    // Reads the images icons [first, first + count) are shown from at `size`
    // in one pass through the file, for a caller about to take them one
    // after another: one read for many icons instead of one each.
    void readAhead(std::size_t first, std::size_t count, std::uint32_t size = kIconSize) const;

    // The icon at `size` x `size` (the system icon size, 32 x 32, unless asked
    // otherwise): the chosen image decoded and, when it has another size,
    // scaled. Falls back to the next best image of the group when the chosen
    // one turns out to be damaged; nothing when none of them decodes or the
    // index is out of range.
    std::optional<Image> icon(std::size_t index, std::uint32_t size = kIconSize) const;

    // A stored image of this file at its own size. Each stored image is
    // decoded at most once however many groups name it (a failure is
    // remembered too), and no more pixels than the file's budget allows;
    // nothing when it is damaged or past the budget. Safe from several
    // threads at once, as is icon().
    std::shared_ptr<const Image> decode(const IconImage& image) const;
    // Whether decode() would give the image, asked within the same budget;
    // its pixels are made only where that is the only way to tell.
    bool decodes(const IconImage& image) const;

    // Whether an image was left undecoded because the budget was spent.
    bool decodeBudgetPassed() const;
    // How many images were decoded (for tests).
    std::uint64_t decodesRun() const;

private:
    struct Decoding;
    bool isShared(const IconImage& image) const;
    std::shared_ptr<const Image> remembered(const IconImage& image, std::uint32_t side,
                                            const MadeOnce<Image>::Make& make) const;

    MappedFile file_;
    SourceKind kind_ = SourceKind::none;
    std::vector<IconGroup> groups_;
    std::filesystem::path redirectedTo_;
    std::string damage_;
    std::shared_ptr<Decoding> decoding_;
    std::shared_ptr<MadeBytes> made_;  // what images not stored as such are held in
};

// How many pixels one file may have decoded: 16 million, or 16 for each of
// its bytes when that is more. Every real icon decodes with room to spare
// (a bitmap holds at most 4 pixels a byte), while a small file naming one
// large image over and over is stopped within a second.
std::uint64_t decodeBudget(std::uint64_t fileSize);

// How many bytes the readers may make of one file: four for each pixel of
// its decode budget, at most limits::kMaxMadeBytes.
std::uint64_t madeBytesBudget(std::uint64_t fileSize);

// Ranks the images of a group for display at `size` x `size` on a 32-bit
// display: closest in size (sum of the width and height differences), then
// closest in depth to 32 bits, then first stored. Returns image indexes,
// best first.
std::vector<std::size_t> rankImages(const std::vector<IconImage>& images, std::uint32_t size = kIconSize);

// The first of rankImages, found without ranking the others; 0 for a group
// without images.
std::size_t bestImage(const std::vector<IconImage>& images, std::uint32_t size = kIconSize);

// Whether a stored image is a PNG in 8-bit RGBA, whose decoded pixels a PNG
// of them would hold unchanged (from its header).
bool isRgba8Png(const IconImage& image);

// The icon at `size` as the PNG it is stored as: when the image chosen for
// `size` is a PNG of just that size in 8-bit RGBA, the icon is its pixels
// unchanged, and its bytes (up to the end of its stream) are a picture of it
// that needs no encoding. Nothing otherwise, or when `decodes` says the
// image does not decode (the icon would then be the next best).
std::optional<Bytes> storedPngShownAt(const std::vector<IconImage>& images, std::uint32_t size,
                                      const std::function<bool(const IconImage&)>& decodes);

// Decodes any stored image at its own size, without IconFile's memory.
std::optional<Image> decodeImage(const IconImage& image);
// Whether decodeImage gives an image, found without making its pixels where
// the format lets that be told.
bool imageDecodes(const IconImage& image);

}  // namespace pictrove
