// Opens each file named and takes the 32 x 32 icon of every index, as the
// icon grid does, and nothing else: the whole-process timing of delivery that
// bench/compare.sh sets against a script doing the same with other tools.
// Prints the count and a checksum so the work cannot be skipped unnoticed.
#include <cstdint>
#include <cstdio>

#include "icon_source/icon_file.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: deliver_icons FILE...\n");
        return 2;
    }
    int status = 0;
    for (int n = 1; n < argc; ++n) {
        auto file = pictrove::IconFile::open(argv[n]);
        if (!file) {
            std::fprintf(stderr, "deliver_icons: %s\n", file.error().message.c_str());
            status = 1;
            continue;
        }
        std::size_t delivered = 0;
        std::uint32_t checksum = 0;
        for (std::size_t i = 0; i < file->count(); ++i) {
            const auto icon = file->icon(i);
            if (!icon) continue;
            ++delivered;
            for (const std::uint8_t byte : icon->bgra) checksum = checksum * 31 + byte;
        }
        std::printf("%s: %zu of %zu icons, checksum %08x\n", argv[n], delivered, file->count(),
                    static_cast<unsigned>(checksum));
    }
    return status;
}
