#include "icon_source/icon_file.h"

#include <algorithm>
#include <mutex>
#include <numeric>
#include <utility>

#include "group_file.h"
#include "icon_source/readers.h"
#include "icon_source/system_resources.h"
#include "image/dib.h"
#include "image/png.h"
#include "image/scale.h"
#include "reader_limits.h"

namespace pictrove {
namespace {

std::uint32_t distance(std::uint32_t a, std::uint32_t b) {
    return a > b ? a - b : b - a;
}

SourceKind detectKind(const FileView& file) {
    const Bytes bytes = file.read(0, 0x40);
    if (hasTagAt(bytes, 0, "MZ")) {
        const auto header = u32At(bytes, 0x3C);
        if (!header) return SourceKind::none;
        if (file.hasTagAt(*header, std::string_view("PE\0\0", 4))) {
            const auto magic = file.u16At(std::uint64_t{*header} + 24);
            return magic == 0x20B ? SourceKind::pe32plus : SourceKind::pe32;
        }
        if (file.hasTagAt(*header, "NE")) return SourceKind::ne;
        return SourceKind::none;
    }
    if (hasTagAt(bytes, 0, std::string_view("\0\0\1\0", 4))) return SourceKind::ico;
    if (hasTagAt(bytes, 0, std::string_view("\0\0\2\0", 4))) return SourceKind::cur;
    if (hasTagAt(bytes, 0, "RIFF") && hasTagAt(bytes, 8, "ACON")) return SourceKind::ani;
    if (isAppImage(bytes)) return SourceKind::appimage;
    if (hasTagAt(bytes, 0,
                 "\x7F"
                 "ELF"))
        return SourceKind::elf;
    if (hasTagAt(bytes, 0, "icns")) return SourceKind::icns;
    if (isCompoundFile(bytes)) return SourceKind::msi;
    if (isZipFile(bytes)) return SourceKind::appx;
    return SourceKind::none;
}

}  // namespace

const char* sourceKindName(SourceKind kind) {
    switch (kind) {
        case SourceKind::none: return "none";
        case SourceKind::pe32: return "PE32";
        case SourceKind::pe32plus: return "PE32+";
        case SourceKind::ne: return "NE";
        case SourceKind::ico: return "ICO";
        case SourceKind::cur: return "CUR";
        case SourceKind::ani: return "ANI";
        case SourceKind::elf: return "ELF";
        case SourceKind::icns: return "ICNS";
        case SourceKind::msi: return "MSI";
        case SourceKind::appx: return "APPX";
        case SourceKind::appimage: return "AppImage";
    }
    return "none";
}

Result<IconFile> IconFile::open(const std::filesystem::path& path, GroupKind kind, std::size_t groupLimit) {
    auto file = MappedFile::open(path);
    if (!file) return file.error();
    IconFile result = fromFile(std::move(*file), kind, groupLimit);
    if (auto why = result.readFailure()) return Error{ErrorCode::invalidFormat, std::move(*why)};
    return result;
}

Result<IconFile> IconFile::openFollowingRedirect(const std::filesystem::path& path, GroupKind kind,
                                                 std::size_t groupLimit) {
    auto own = open(path, kind, groupLimit);
    const bool isPe = own && (own->kind() == SourceKind::pe32 || own->kind() == SourceKind::pe32plus);
    if (!isPe || own->count() > 0 || !own->damage().empty()) return own;
    const auto mun = systemResourcesFile(path);
    if (!mun) return own;
    auto redirected = open(*mun, kind, groupLimit);
    // A .mun that cannot be read or holds nothing leaves the library as it is.
    if (!redirected || redirected->count() == 0) return own;
    redirected->redirectedTo_ = *mun;
    return redirected;
}

struct IconFile::Decoding {
    // Pictures many groups share are kept while they take no more than this.
    static constexpr std::uint64_t kKeptBytes = std::uint64_t{256} << 20;
    explicit Decoding(std::uint64_t pixels) : images(kKeptBytes), budget(pixels) {}
    MadeOnce<Image> images;
    PixelBudget budget;
    std::atomic<std::uint64_t> decodes{0};
    std::once_flag sharedFound;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> shared;  // (offset, length), ascending
};

std::uint64_t decodeBudget(std::uint64_t fileSize) {
    constexpr std::uint64_t kMinPixels = std::uint64_t{16} << 20;
    constexpr std::uint64_t kPixelsPerByte = 16;
    return std::max(kMinPixels, std::min(fileSize, UINT64_MAX / kPixelsPerByte) * kPixelsPerByte);
}

std::uint64_t madeBytesBudget(std::uint64_t fileSize) {
    return std::min(limits::kMaxMadeBytes, decodeBudget(fileSize) * 4);
}

IconFile::IconFile() : decoding_(std::make_shared<Decoding>(decodeBudget(0))) {}

IconFile IconFile::fromFile(MappedFile file, GroupKind kind, std::size_t groupLimit) {
    IconFile result;
    result.file_ = std::move(file);
    result.decoding_ = std::make_shared<Decoding>(decodeBudget(result.file_.size()));
    result.made_ = std::make_shared<MadeBytes>(madeBytesBudget(result.file_.size()));
    const FileView source(result.file_);
    result.kind_ = detectKind(source);
    // A file that is no icon source is left at its first bytes (a folder walk
    // meets many). A small source is read whole, in one go; a large one only
    // in the parts its reader walks.
    if (result.kind_ == SourceKind::none) return result;
    result.file_.loadAllIfSmall();
    std::optional<IconGroup> single;
    switch (result.kind_) {
        case SourceKind::pe32:
        case SourceKind::pe32plus: {
            bool cut = false;
            result.groups_ = readPeIcons(source, kind, groupLimit, &cut);
            if (cut) result.damage_ = kCutShort;
            break;
        }
        case SourceKind::ne: result.groups_ = readNeIcons(source, kind, groupLimit); break;
        case SourceKind::ico:
        case SourceKind::cur: single = readIcoFile(source); break;
        case SourceKind::ani: single = readAniFile(source); break;
        case SourceKind::elf: single = readElfIcon(source); break;
        case SourceKind::icns: single = readIcnsFile(source, *result.made_); break;
        case SourceKind::msi:
        case SourceKind::appx:
        case SourceKind::appimage: {
            // Other compound files (old Office documents) and other zip
            // archives are no icon source.
            const auto reader = result.kind_ == SourceKind::msi    ? readMsiIcons
                                : result.kind_ == SourceKind::appx ? readAppxIcons
                                                                   : readAppImageIcons;
            auto groups = reader(source, *result.made_, groupLimit);
            if (!groups) result.kind_ = SourceKind::none;
            result.groups_ = std::move(groups).value_or(std::vector<IconGroup>{});
            break;
        }
        case SourceKind::none: break;
    }
    if (single) result.groups_.push_back(std::move(*single));
    return result;
}

namespace {

// Whether image a is better suited to size x size than image b.
bool betterSuited(const ImageInfo& a, const ImageInfo& b, std::uint32_t size) {
    const std::uint32_t da = distance(a.width, size) + distance(a.height, size);
    const std::uint32_t db = distance(b.width, size) + distance(b.height, size);
    if (da != db) return da < db;
    return distance(a.bits, 32) < distance(b.bits, 32);
}

}  // namespace

std::vector<std::size_t> rankImages(const std::vector<IconImage>& images, std::uint32_t size) {
    std::vector<std::size_t> order(images.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return betterSuited(images[a].info, images[b].info, size);
    });
    return order;
}

std::size_t bestImage(const std::vector<IconImage>& images, std::uint32_t size) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < images.size(); ++i) {
        if (betterSuited(images[i].info, images[best].info, size)) best = i;
    }
    return best;
}

std::size_t IconFile::chosenImage(std::size_t index, std::uint32_t size) const {
    return bestImage(group(index).images, size);
}

void IconFile::readAhead(std::size_t first, std::size_t count, std::uint32_t size) const {
    std::vector<FileBytes> images;
    for (std::size_t i = first; i < groups_.size() && i - first < count; ++i) {
        if (!groups_[i].images.empty())
            images.push_back(groups_[i].images[bestImage(groups_[i].images, size)].data);
    }
    pictrove::readAhead(std::move(images));
}

bool isRgba8Png(const IconImage& image) {
    constexpr std::size_t kBitDepth = 24, kColourType = 25;  // within the IHDR chunk
    if (!image.info.png) return false;
    const Bytes head = image.data.head(kColourType + 1);
    return head.size() > kColourType && head[kBitDepth] == std::byte{8} && head[kColourType] == std::byte{6};
}

std::optional<Bytes> storedPngShownAt(const std::vector<IconImage>& images, std::uint32_t size,
                                      const std::function<bool(const IconImage&)>& decodes) {
    if (images.empty()) return std::nullopt;
    const IconImage& chosen = images[bestImage(images, size)];
    if (chosen.info.width != size || chosen.info.height != size || !isRgba8Png(chosen) || !decodes(chosen))
        return std::nullopt;
    const Bytes bytes = imageBytes(chosen);
    return bytes.empty() ? std::nullopt : std::optional(bytes);
}

std::optional<Image> decodeImage(const IconImage& image) {
    return image.info.png ? decodePng(image.data) : decodeDib(image.data);
}

bool imageDecodes(const IconImage& image) {
    return image.info.png ? pngDecodes(image.data) : decodeDib(image.data).has_value();
}

bool IconFile::isShared(const IconImage& image) const {
    Decoding& state = *decoding_;
    std::call_once(state.sharedFound, [&] {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> all;
        for (const IconGroup& group : groups_) {
            for (const IconImage& each : group.images) {
                if (const auto offset = each.data.fileOffset()) all.emplace_back(*offset, each.data.size());
            }
        }
        std::sort(all.begin(), all.end());
        for (std::size_t i = 1; i < all.size(); ++i) {
            if (all[i] == all[i - 1] && (state.shared.empty() || state.shared.back() != all[i]))
                state.shared.push_back(all[i]);
        }
    });
    const auto offset = image.data.fileOffset();
    return offset && std::binary_search(state.shared.begin(), state.shared.end(),
                                        std::pair(*offset, image.data.size()));
}

std::shared_ptr<const Image> IconFile::remembered(const IconImage& image, std::uint32_t side,
                                                  const MadeOnce<Image>::Make& make) const {
    if (const auto offset = image.data.fileOffset()) {
        const std::uint64_t width = side ? side : image.info.width, height = side ? side : image.info.height;
        const std::uint64_t kept = isShared(image) ? width * height * 4 : 0;
        return decoding_->images.get({*offset, image.data.size(), side}, kept, make);
    }
    auto made = make();
    return made ? std::make_shared<const Image>(std::move(*made)) : nullptr;
}

std::shared_ptr<const Image> IconFile::decode(const IconImage& image) const {
    return remembered(image, 0, [&]() -> std::optional<Image> {
        Decoding& state = *decoding_;
        const std::uint64_t pixels = std::uint64_t{image.info.width} * image.info.height;
        if (PixelBudget* request = DecodeRequest::current()) {
            if (!request->take(pixels)) throw DecodeBudgetPassed();
        } else if (!state.budget.take(pixels)) {
            return std::nullopt;
        }
        state.decodes.fetch_add(1, std::memory_order_relaxed);
        return decodeImage(image);
    });
}

bool IconFile::decodes(const IconImage& image) const {
    Decoding& state = *decoding_;
    const std::uint64_t pixels = std::uint64_t{image.info.width} * image.info.height;
    if (PixelBudget* request = DecodeRequest::current()) {
        if (!request->take(pixels)) throw DecodeBudgetPassed();
    } else if (!state.budget.take(pixels)) {
        return false;
    }
    state.decodes.fetch_add(1, std::memory_order_relaxed);
    return imageDecodes(image);
}

bool IconFile::decodeBudgetPassed() const {
    return decoding_->budget.passed();
}

std::uint64_t IconFile::decodesRun() const {
    return decoding_->decodes.load(std::memory_order_relaxed);
}

std::optional<Image> IconFile::icon(std::size_t index, std::uint32_t size) const {
    if (index >= groups_.size() || size == 0 || size > limits::kMaxImageSide) return std::nullopt;
    const auto& images = groups_[index].images;
    for (std::size_t candidate : rankImages(images, size)) {
        const IconImage& image = images[candidate];
        if (isShared(image)) {
            // Groups that share an image share its icon too: it is scaled once.
            const auto icon = remembered(image, size, [&]() -> std::optional<Image> {
                const auto decoded = decode(image);
                return decoded ? std::optional(scaleArea(*decoded, size, size)) : std::nullopt;
            });
            if (icon) return *icon;
        } else if (const auto decoded = decode(image)) {
            return scaleArea(*decoded, size, size);
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> IconFile::offsetOf(const FileBytes& data) const {
    const auto offset = data.fileOffset();
    if (!offset || data.empty() || !fitsIn(file_.size(), *offset, data.size())) return std::nullopt;
    return offset;
}

}  // namespace pictrove
