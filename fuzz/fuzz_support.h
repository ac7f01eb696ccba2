// Shared by every fuzz target: checks that abort loudly (so libFuzzer and the
// replayer both report them as crashes) and the decode-everything walk that
// carries reader output on into the image decoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "group_file.h"
#include "icon_source/icon_file.h"
#include "icon_source/icon_group.h"
#include "icon_source/readers.h"
#include "image/image.h"

namespace pictrove::fuzz {

// Not assert(): the fuzz builds are optimised and may define NDEBUG.
#define PICTROVE_FUZZ_CHECK(condition)                                                         \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

inline std::span<const std::byte> asBytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const std::byte*>(data), size};
}

// What every decoded image must look like, whatever it came from.
inline void checkImage(const Image& image) {
    PICTROVE_FUZZ_CHECK(!image.empty());
    PICTROVE_FUZZ_CHECK(image.bgra.size() == image.pixelCount() * 4);
    PICTROVE_FUZZ_CHECK(image.mask.size() == image.pixelCount());
    for (std::size_t i = 0; i < image.pixelCount(); ++i) {
        PICTROVE_FUZZ_CHECK(image.mask[i] <= 1);
    }
}

// A stored image whose header the reader accepted. A bitmap must then decode
// (its reader checked every byte the colour rows need); a PNG may still turn
// out damaged past its header, and so may a picture made only when first
// read. Whatever decodes must have the announced size. Its bytes are the
// input's, or ones the reader made and kept in `made`.
inline void decodeStored(const IconImage& stored, const std::uint8_t* begin, std::size_t size,
                         const MadeBytes* made = nullptr) {
    const Bytes bytes = stored.data;  // read now when it was not before
    PICTROVE_FUZZ_CHECK(bytes.size() == stored.data.size());
    const auto* first = reinterpret_cast<const std::uint8_t*>(bytes.data());
    PICTROVE_FUZZ_CHECK(bytes.empty() || (first >= begin && first + bytes.size() <= begin + size) ||
                        (made && made->holds(bytes)));
    const auto image = decodeImage(stored);
    if (!stored.info.png && !(made && made->madeOnRead(bytes))) PICTROVE_FUZZ_CHECK(image.has_value());
    if (!image) return;
    checkImage(*image);
    PICTROVE_FUZZ_CHECK(image->width == stored.info.width && image->height == stored.info.height);
}

// Groups come from the file's bytes: the ones a reader returns are never
// empty and point only into the input. Each group rebuilt as a file of its
// own reads back with every image.
inline void decodeGroups(const std::vector<IconGroup>& groups, const std::uint8_t* data, std::size_t size,
                         const MadeBytes* made = nullptr) {
    for (const IconGroup& group : groups) {
        PICTROVE_FUZZ_CHECK(!group.images.empty());
        for (const IconImage& image : group.images) decodeStored(image, data, size, made);
        const auto rebuilt = buildGroupFile(group);
        if (!rebuilt) continue;
        const auto back = readIcoFile(std::as_bytes(std::span(*rebuilt)));
        PICTROVE_FUZZ_CHECK(back && back->images.size() == group.images.size());
    }
}

// A reader of packages, whose pictures it makes and keeps in `made`, fed
// the input through a byte source as real files are; what it makes stays
// within the input's budget.
using PackageReader = std::optional<std::vector<IconGroup>> (*)(const FileView&, MadeBytes&, std::size_t);
inline int readPackage(PackageReader read, const std::uint8_t* data, std::size_t size) {
    const auto bytes = asBytes(data, size);
    const MappedFile file = MappedFile::fromBuffer({bytes.begin(), bytes.end()});
    MadeBytes made(madeBytesBudget(size));
    if (const auto groups = read(FileView(file), made, limits::kMaxIconGroups))
        decodeGroups(*groups, data, size, &made);
    PICTROVE_FUZZ_CHECK(made.total() <= madeBytesBudget(size));
    return 0;
}

}  // namespace pictrove::fuzz
