#include "engine/sources.h"

#include "collection_file.h"
#include "icon_source/icon_file.h"
#include "icon_source/readers.h"
#include "icon_source/system_resources.h"
#include "icon_writer.h"
#include "image/scale.h"
#include "path_text.h"
#include "paths.h"

namespace pictrove {
namespace {

Source fromIconFile(std::shared_ptr<const IconFile> file) {
    Source source;
    source.kind = sourceKindName(file->kind());
    source.redirectedTo = utf8Of(file->redirectedTo());
    source.damage = file->damage();
    for (std::size_t i = 0; i < file->count(); ++i) {
        SourceIcon icon;
        icon.name = file->group(i).name;
        icon.images = file->group(i).images;
        icon.icon = [file, i](std::uint32_t size) { return file->icon(i, size); };
        icon.fileImage = [file, i]() -> std::optional<std::vector<std::uint8_t>> {
            const auto image = file->icon(i);
            return image ? encodeIconFile(*image) : std::nullopt;
        };
        source.icons.push_back(std::move(icon));
    }
    source.offsetOf = [raw = file.get()](const IconImage& image) { return raw->offsetOf(image.data); };
    source.decode = [raw = file.get()](const IconImage& image) { return raw->decode(image); };
    source.decodes = [raw = file.get()](const IconImage& image) { return raw->decodes(image); };
    source.decodeBudgetPassed = [raw = file.get()] { return raw->decodeBudgetPassed(); };
    source.requestPixels = decodeBudget(file->fileSize());
    source.release = [raw = file.get()] { raw->releaseFile(); };
    source.storage = std::move(file);
    return source;
}

Source fromCollection(CollectionReader reader) {
    Source source;
    source.kind = "collection";
    auto kept = std::make_shared<CollectionReader>(std::move(reader));
    std::span<const std::uint8_t> record;
    while (kept->next(record)) {
        if (!isAcceptedRecord(record)) continue;  // as the window does: bad records are passed over
        SourceIcon icon;
        if (const auto group = readIcoFile(std::as_bytes(record)); group && record[2] == 1)
            icon.images = group->images;
        icon.icon = [record](std::uint32_t size) {
            return std::optional<Image>(scaleArea(decodeRecordIcon(record), size, size));
        };
        icon.fileImage = [record] {
            return std::optional(std::vector<std::uint8_t>(record.begin(), record.end()));
        };
        source.icons.push_back(std::move(icon));
    }
    source.requestPixels = decodeBudget(0);
    // A record holds one small icon: nothing to remember or to budget.
    source.decode = [](const IconImage& image) -> std::shared_ptr<const Image> {
        auto decoded = decodeImage(image);
        return decoded ? std::make_shared<const Image>(std::move(*decoded)) : nullptr;
    };
    source.decodes = imageDecodes;
    source.storage = std::move(kept);
    return source;
}

}  // namespace

Result<Source> openSource(const std::string& path, const std::string& collectionExtension, GroupKind kind,
                          std::size_t groupLimit) {
    const std::string extension = lowerExtension(path);
    if (!extension.empty() && extension == asciiLower(collectionExtension)) {
        auto collection = CollectionReader::open(pathFromUtf8(path), extension);
        if (!collection) return collection.error();
        if (*collection) return fromCollection(std::move(**collection));
    }
    auto file = IconFile::openFollowingRedirect(pathFromUtf8(path), kind, groupLimit);
    if (!file) return file.error();
    return fromIconFile(std::make_shared<const IconFile>(std::move(*file)));
}

Result<Source> openSource(MappedFile file, const std::string& path, const std::string& collectionExtension) {
    const std::string extension = lowerExtension(path);
    if (!extension.empty() && extension == asciiLower(collectionExtension)) {
        auto collection = CollectionReader::fromFile(file, extension);
        if (!collection) return collection.error();
        if (*collection) return fromCollection(std::move(**collection));
    }
    IconFile own = IconFile::fromFile(std::move(file));
    if (auto why = own.readFailure()) return Error{ErrorCode::invalidFormat, std::move(*why)};
    const bool isPe = own.kind() == SourceKind::pe32 || own.kind() == SourceKind::pe32plus;
    // A system library without icons of its own shows its .mun file's.
    if (isPe && own.count() == 0 && own.damage().empty() && systemResourcesFile(pathFromUtf8(path))) {
        if (auto redirected = IconFile::openFollowingRedirect(pathFromUtf8(path));
            redirected && !redirected->redirectedTo().empty())
            return fromIconFile(std::make_shared<const IconFile>(std::move(*redirected)));
    }
    return fromIconFile(std::make_shared<const IconFile>(std::move(own)));
}

Result<Source> openUnnamedSource(MappedFile file, const std::string& collectionExtension, GroupKind kind) {
    // Too short for a trailer is no collection, and no error either: there
    // is no name that promised one.
    if (file.size() >= kCollectionTrailerSize) {
        auto collection = CollectionReader::fromFile(file, asciiLower(collectionExtension));
        if (collection && *collection) return fromCollection(std::move(**collection));
    }
    IconFile icons = IconFile::fromFile(std::move(file), kind);
    if (auto why = icons.readFailure()) return Error{ErrorCode::invalidFormat, std::move(*why)};
    return fromIconFile(std::make_shared<const IconFile>(std::move(icons)));
}

}  // namespace pictrove
