#include "export/icon_stamp.h"

#include "icon_source/icon_file.h"

#ifdef _WIN32
#include <QDateTime>
#include <QFileInfo>
#else
#include <sys/stat.h>
#endif

namespace pictrove {
namespace {

#ifndef _WIN32
std::int64_t nanosecondsOf(const struct timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}
#endif

// Adds one value to a hash: the value spread over all 64 bits first (the
// finishing step of splitmix64), so that a change anywhere shows.
std::uint64_t mixed(std::uint64_t hash, std::uint64_t value) {
    value += 0x9E3779B97F4A7C15u + hash;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9u;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBu;
    return value ^ (value >> 31);
}

}  // namespace

std::optional<FileStamp> stampFile(const std::filesystem::path& path) {
#ifdef _WIN32
    const QFileInfo info(QString::fromStdWString(path.wstring()));
    if (!info.isFile()) return std::nullopt;
    // Milliseconds, and no file number: the size and times alone tell.
    return FileStamp{0, 0, static_cast<std::uint64_t>(info.size()),
                     info.metadataChangeTime().toMSecsSinceEpoch() * 1'000'000,
                     info.lastModified().toMSecsSinceEpoch() * 1'000'000};
#else
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return FileStamp{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
                     static_cast<std::uint64_t>(status.st_size), nanosecondsOf(status.st_ctim),
                     nanosecondsOf(status.st_mtim)};
#endif
}

std::optional<IconStamp> IconStamp::of(const IconFile& file, const std::filesystem::path& path) {
    File shown;
    shown.path = file.redirectedTo().empty() ? path : file.redirectedTo();
    const auto stamp = stampFile(shown.path);
    if (!stamp) return std::nullopt;
    shown.stamp = *stamp;
    return IconStamp{std::make_shared<const File>(std::move(shown)), 0};
}

IconStamp IconStamp::forGroup(const IconGroup& group) const {
    std::uint64_t hash = 0;
    if (group.name) {
        hash = mixed(hash, group.name->id ? *group.name->id : 0x10000u);
        for (const char c : group.name->name) hash = mixed(hash, static_cast<unsigned char>(c));
    }
    for (const IconImage& image : group.images) {
        hash = mixed(hash, std::uint64_t{image.info.width} << 32 | image.info.height);
        hash = mixed(hash, std::uint64_t{image.info.bits} << 1 | (image.info.png ? 1 : 0));
        if (image.hotSpot)
            hash = mixed(hash,
                         std::uint64_t{1} << 32 | std::uint64_t{image.hotSpot->x} << 16 | image.hotSpot->y);
        hash = mixed(hash, image.data.fileOffset().value_or(~std::uint64_t{0}));
        hash = mixed(hash, image.data.size());
    }
    return IconStamp{file, hash};
}

}  // namespace pictrove
