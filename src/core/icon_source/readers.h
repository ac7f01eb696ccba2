// One reader per container format. Each reads only the structures and
// image headers it needs, and returns the groups whose
// directory and at least one image are intact; damaged ones are left out so
// that the rest can still be shown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "byte_reader.h"
#include "icon_source/icon_group.h"
#include "icon_source/made_bytes.h"
#include "mapped_file.h"
#include "reader_limits.h"

namespace pictrove {

// Each reader takes its bytes only through the view's reads, so it asks for
// exactly the ranges it walks (headers, the resource tree, the directories,
// the headers of the images of the groups it delivers) and never sees a byte
// before asking. An image's body is read when it is first decoded or copied.

// PE32 and PE32+ executables and libraries: RT_GROUP_ICON (14) groups whose
// entries name RT_ICON (3) resources, first language of each; for cursors
// RT_GROUP_CURSOR (12) groups naming RT_CURSOR (1) resources. Image headers
// are read only for the groups delivered, so a thumbnail of the first icon
// does not look at every image. Delivers at most `groupLimit` groups, the first ones in
// the shell's order.
// `cut`, when given, is set when the resource tree, or a resource of the
// kind asked for, lies past the end of the file (a file cut short): the
// groups delivered are those still whole. Slack past the end that no
// resource uses leaves it clear.
std::vector<IconGroup> readPeIcons(const FileView& file, GroupKind kind = GroupKind::icons,
                                   std::size_t groupLimit = limits::kMaxIconGroups, bool* cut = nullptr);

// 16-bit NE executables, libraries and icon libraries (.icl): group icons
// (0x800E) whose entries name icons (0x8003); for cursors group cursors
// (0x800C) naming cursors (0x8001).
std::vector<IconGroup> readNeIcons(const FileView& file, GroupKind kind = GroupKind::icons,
                                   std::size_t groupLimit = limits::kMaxIconGroups);

// Icon (.ico) and cursor (.cur) files: one icon of all their images.
std::optional<IconGroup> readIcoFile(const FileView& file);

// Animated cursors (.ani): the first frame, itself an icon or cursor file.
std::optional<IconGroup> readAniFile(const FileView& file);

// Programs built for systems whose executables carry no icon resources keep
// their icon as an icon file in an ELF section of this name.
inline constexpr std::string_view kElfIconSection = ".pictrove.icons";

// ELF executables: the icon file in kElfIconSection, as one icon named MAINICON.
std::optional<IconGroup> readElfIcon(const FileView& file);

// macOS icon files (.icns): every picture member as one image of one icon,
// PNG ones straight from the file, the others (24-bit with their 8-bit
// masks, 32-bit ARGB, JPEG 2000) converted to 32-bit bitmaps, the classic
// 1-, 4- and 8-bit ones to bitmaps of their depth. The bitmaps are kept in
// `made` and made when their pixels are first read: listing makes none.
std::optional<IconGroup> readIcnsFile(const FileView& file, MadeBytes& made);

// Whether the first bytes are a compound file's (installer databases, old
// Office documents).
bool isCompoundFile(Bytes head);

// Windows Installer databases (.msi): one icon per row of the Icon table,
// named by it, the one the Property table's ARPPRODUCTICON names first; a
// row's stream is an icon file or a program whose first icon it is. The
// streams delivered are kept in `made`. At most `groupLimit` icons. Nothing
// when the file is no installer database, or its reader cannot be loaded.
std::optional<std::vector<IconGroup>> readMsiIcons(const FileView& file, MadeBytes& made,
                                                   std::size_t groupLimit = limits::kMaxIconGroups);

// Whether the first bytes are a zip archive's.
bool isZipFile(Bytes head);

// App packages (.msix, .appx) and their bundles: one icon per logo the
// manifest names (the package's, then each application's), each of every
// PNG variant of it the package holds; a bundle's first application
// package, with the variants its resource packages hold. The images are
// kept in `made`. At most `groupLimit` icons.
// Nothing when the file is no app package, or its reader cannot be loaded.
std::optional<std::vector<IconGroup>> readAppxIcons(const FileView& file, MadeBytes& made,
                                                    std::size_t groupLimit = limits::kMaxIconGroups);

// Whether the first bytes are those of an AppImage of type 2.
bool isAppImage(Bytes head);

// AppImages of type 2: their .DirIcon, then the icon their .desktop file
// names, of every size the image holds (SVG ones drawn at the icon theme's
// sizes); the images are kept in `made`. At most `groupLimit` icons.
// Nothing when the file is no AppImage, or its reader cannot be loaded.
std::optional<std::vector<IconGroup>> readAppImageIcons(const FileView& file, MadeBytes& made,
                                                        std::size_t groupLimit = limits::kMaxIconGroups);

// The name of an installer database's stream as the compound file holds it
// (UTF-8): `name` packed, after the table mark for a table's stream.
std::string msiStreamName(std::string_view name, bool table);

// The same over bytes already in memory.
inline std::vector<IconGroup> readPeIcons(Bytes file, GroupKind kind = GroupKind::icons,
                                          std::size_t groupLimit = limits::kMaxIconGroups) {
    return readPeIcons(FileView(file), kind, groupLimit);
}
inline std::vector<IconGroup> readNeIcons(Bytes file, GroupKind kind = GroupKind::icons,
                                          std::size_t groupLimit = limits::kMaxIconGroups) {
    return readNeIcons(FileView(file), kind, groupLimit);
}
inline std::optional<IconGroup> readIcoFile(Bytes file) {
    return readIcoFile(FileView(file));
}
inline std::optional<IconGroup> readAniFile(Bytes file) {
    return readAniFile(FileView(file));
}
inline std::optional<IconGroup> readElfIcon(Bytes file) {
    return readElfIcon(FileView(file));
}

// The intact groups among named group directories, within the caps on groups
// and images per file, in the order the shell numbers them; at most
// `groupLimit` of them, the first in that order (whose directories alone are
// then read).
template <class Resolve>
std::vector<IconGroup> readGroups(std::vector<std::pair<ResourceName, Bytes>> directories, Resolve&& resolve,
                                  GroupKind kind, std::size_t groupLimit = limits::kMaxIconGroups);

}  // namespace pictrove

#include "icon_source/group_directory.inl"
