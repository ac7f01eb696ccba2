// The readers of installer databases, app packages and AppImages live in a
// module of their own, pictrove-formats, loaded the first time such a file is
// met. Their libraries (libgsf with GLib, libzip, libsquashfs, librsvg with
// cairo and pango: some fifty shared objects) would otherwise be loaded and
// bound at the start of every run, and a listing or a thumbnail of an icon
// file would take three times what its own work does.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "icon_source/readers.h"

namespace pictrove {

using PackageReader = std::optional<std::vector<IconGroup>> (*)(const FileView& file, MadeBytes& made,
                                                                std::size_t groupLimit);

// What the module reads; a reader whose library the build lacked is null.
struct FormatReaders {
    std::size_t size = sizeof(FormatReaders);  // the module and the program must agree
    PackageReader msi = nullptr;
    PackageReader appx = nullptr;
    PackageReader appImage = nullptr;
};

// The module's file name, and the name of its one entry, a function taking
// nothing and giving `const FormatReaders*`.
inline constexpr const char* kFormatModule = "pictrove-formats.so";
inline constexpr const char* kFormatModuleEntry = "pictrove_format_readers";

// The readers the module holds, as readers.h describes them.
namespace formats {
std::optional<std::vector<IconGroup>> readMsiIcons(const FileView& file, MadeBytes& made,
                                                   std::size_t groupLimit);
std::optional<std::vector<IconGroup>> readAppxIcons(const FileView& file, MadeBytes& made,
                                                    std::size_t groupLimit);
std::optional<std::vector<IconGroup>> readAppImageIcons(const FileView& file, MadeBytes& made,
                                                        std::size_t groupLimit);
}  // namespace formats

}  // namespace pictrove
