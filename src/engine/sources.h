// What the front ends (the command-line tool, the Python module) need of any
// icon source, collection files included: per icon its name, its stored
// images, the icon as the window shows it and the bytes an icon save writes
// for it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "icon_source/icon_group.h"
#include "image/image.h"
#include "mapped_file.h"
#include "reader_limits.h"
#include "result.h"

namespace pictrove {

struct SourceIcon {
    std::optional<ResourceName> name;
    std::vector<IconImage> images;  // may be empty for an icon the program draws itself
    // The icon at size x size, chosen and scaled as the window does at 32.
    std::function<std::optional<Image>(std::uint32_t size)> icon;
    std::function<std::optional<std::vector<std::uint8_t>>()> fileImage;
};

struct Source {
    std::string kind;
    std::vector<SourceIcon> icons;
    std::string redirectedTo;             // the .mun file the icons came from, if any
    std::string damage;                   // why the icons are only the intact part of the file, if so
    std::shared_ptr<const void> storage;  // keeps the file's bytes alive for the images
    // Where an image's bytes lie in the file; nothing where that is not known.
    std::function<std::optional<std::uint64_t>(const IconImage&)> offsetOf;
    // A stored image of the source decoded at its own size, at most once
    // and within the file's budget (IconFile::decode); nothing when it
    // cannot be.
    std::function<std::shared_ptr<const Image>(const IconImage&)> decode;
    // Whether decode would give the image, asked within the same budget
    // (IconFile::decodes).
    std::function<bool(const IconImage&)> decodes;
    // Whether images were left undecoded because the file's budget was spent.
    std::function<bool()> decodeBudgetPassed = [] { return false; };
    // The pixels one request of it may have decoded (DecodeRequest).
    std::uint64_t requestPixels = 0;
    // Closes its file, keeping what was read (MappedFile::release).
    std::function<void()> release = [] {};
};

// What follows "cannot be decoded" in a message: ": " and why a picture of
// these images could not be made, when that is known (whyNotMade).
inline std::string undecodedBecause(const std::vector<IconImage>& images) {
    const std::string why = whyNotMade(images);
    return why.empty() ? why : ": " + why;
}

// Why icons of a file whose decode budget was spent are missing.
inline constexpr const char* kDecodeBudgetPassed =
    "the rest of its images were not decoded: they would pass the pixels one file may have decoded "
    "(16 million, or 16 for each of its bytes)";

// Reads a file as the window would: a collection when its extension equals
// `collectionExtension` and its trailer says so, the icon engine otherwise,
// following a system library to its .mun file. `kind` picks the icon or the
// cursor groups of executables; `groupLimit` how many of an executable's
// groups, the first ones, are read.
Result<Source> openSource(const std::string& path, const std::string& collectionExtension,
                          GroupKind kind = GroupKind::icons, std::size_t groupLimit = limits::kMaxIconGroups);

// The same for a file opened already, read through `file`; `path` is its name.
Result<Source> openSource(MappedFile file, const std::string& path, const std::string& collectionExtension);

// The same for bytes that have no name, such as a buffer in memory: a
// collection when its trailer names `collectionExtension`, the icon engine
// otherwise.
Result<Source> openUnnamedSource(MappedFile file, const std::string& collectionExtension = ".ics",
                                 GroupKind kind = GroupKind::icons);

// The sides an icon may be shown at, as `--size` takes them.
inline constexpr std::uint32_t kSmallestShownSide = 8;
inline constexpr std::uint32_t kLargestShownSide = 1024;

}  // namespace pictrove
