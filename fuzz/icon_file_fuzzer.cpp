// The whole path a user's file takes: kind detection, the matching reader,
// image ranking and the 32 x 32 icon of every index, scaling included, and
// what a corpus scan makes of it (hashes, group files, image offsets).
#include <algorithm>

#include "fingerprint/dhash.h"
#include "fingerprint/sha256.h"
#include "fuzz_support.h"
#include "group_file.h"
#include "mapped_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    const auto bytes = fuzz::asBytes(data, size);
    const IconFile file = IconFile::fromFile(MappedFile::fromBuffer({bytes.begin(), bytes.end()}));
    if (file.kind() == SourceKind::none) PICTROVE_FUZZ_CHECK(file.count() == 0);
    for (std::size_t i = 0; i < file.count(); ++i) {
        const IconGroup& group = file.group(i);
        PICTROVE_FUZZ_CHECK(!group.images.empty());
        PICTROVE_FUZZ_CHECK(file.chosenImage(i) < group.images.size());
        auto ranked = rankImages(group.images);
        std::sort(ranked.begin(), ranked.end());
        for (std::size_t k = 0; k < ranked.size(); ++k) PICTROVE_FUZZ_CHECK(ranked[k] == k);
        // Bitmaps the reader accepted always decode, so only a group made of
        // damaged PNG images, or one past the file's decode budget, may come
        // without an icon.
        const bool anyBitmap = std::any_of(group.images.begin(), group.images.end(),
                                           [](const IconImage& image) { return !image.info.png; });
        for (const IconImage& image : group.images) {
            const auto offset = file.offsetOf(image.data);
            PICTROVE_FUZZ_CHECK(!offset || (*offset <= size && imageBytes(image).size() <= size - *offset));
        }
        if (const auto built = buildGroupFile(group)) sha256Of(*built);
        if (const auto icon = file.icon(i)) {
            fuzz::checkImage(*icon);
            PICTROVE_FUZZ_CHECK(icon->width == kIconSize && icon->height == kIconSize);
            differenceHash(*icon);
        } else {
            PICTROVE_FUZZ_CHECK(!anyBitmap || file.decodeBudgetPassed());
        }
    }
    PICTROVE_FUZZ_CHECK(!file.icon(file.count()).has_value());
    return 0;
}
