// The readers of installer databases, app packages and AppImages each live
// in a module of their own (pictrove-msi, pictrove-appx, pictrove-appimage),
// loaded the first time such a file is met. Their libraries (libgsf with
// GLib, libzip with pugixml, libsquashfs) would otherwise be loaded and bound
// at the start of every run, and one kind's would be loaded for another's:
// a thumbnail of an app package would wait for GLib.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "icon_source/readers.h"

namespace pictrove {

// What a module's reader says beside its groups: a module it needed in turn
// (the SVG drawing, for AppImages) that could not be loaded. The reader
// gives what it read without it; the program raises the error.
struct ReadNotes {
    std::string unloaded;
};

using PackageReader = std::optional<std::vector<IconGroup>> (*)(const FileView& file, MadeBytes& made,
                                                                std::size_t groupLimit, ReadNotes& notes);

// What a module reads; null when the build lacked its library.
struct FormatReader {
    std::size_t size = sizeof(FormatReader);  // the module and the program must agree
    PackageReader read = nullptr;
};

// The modules' file names, and the name of each one's entry, a function
// taking nothing and giving the table (see module_loader.h).
inline constexpr const char* kMsiModule = "pictrove-msi.so";
inline constexpr const char* kAppxModule = "pictrove-appx.so";
inline constexpr const char* kAppImageModule = "pictrove-appimage.so";
inline constexpr const char* kFormatModuleEntry = "pictrove_format_reader";

// The readers the modules hold, as readers.h describes them.
namespace formats {
std::optional<std::vector<IconGroup>> readMsiIcons(const FileView& file, MadeBytes& made,
                                                   std::size_t groupLimit);
std::optional<std::vector<IconGroup>> readAppxIcons(const FileView& file, MadeBytes& made,
                                                    std::size_t groupLimit);
std::optional<std::vector<IconGroup>> readAppImageIcons(const FileView& file, MadeBytes& made,
                                                        std::size_t groupLimit);
}  // namespace formats

}  // namespace pictrove
