// Helpers shared by the core tests: fixture loading, field patching and
// compact views of what the readers return.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "icon_source/icon_file.h"
#include "image/image.h"
#include "image/png.h"
#include "mapped_file.h"
#include "patterns.h"
#include "unread_marking_storage.h"

namespace pictrove::test {

inline std::filesystem::path dataPath(const std::string& relative) {
    return std::filesystem::path(PICTROVE_TEST_DATA) / relative;
}

inline std::vector<std::byte> readFixture(const std::string& relative) {
    std::ifstream in(dataPath(relative), std::ios::binary);
    EXPECT_TRUE(in) << "missing fixture " << relative;
    std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::byte> bytes(chars.size());
    for (std::size_t i = 0; i < chars.size(); ++i) bytes[i] = static_cast<std::byte>(chars[i]);
    return bytes;
}

// Through a source that reads only what the reader asks for, leaving every
// other byte at 0xA5, so that a field read before its range shows.
inline IconFile openBytes(std::vector<std::byte> bytes, GroupKind kind = GroupKind::icons) {
    return IconFile::fromFile(readWhereAsked(std::move(bytes)), kind);
}

// What a single-icon reader finds through that source, with the source its
// images point into.
struct ReadGroup {
    MappedFile file;
    std::optional<IconGroup> group;
};
inline ReadGroup readWhereAsked(std::vector<std::byte> bytes,
                                std::optional<IconGroup> (*reader)(const FileView&)) {
    ReadGroup read{readWhereAsked(std::move(bytes)), {}};
    read.group = reader(FileView(read.file));
    return read;
}

// The PE file `bytes` with its headers moved to `peOffset` and the sections'
// raw data behind them, padded with zeros to at least `size` bytes.
inline std::vector<std::byte> withHeadersAt(const std::vector<std::byte>& bytes, std::uint32_t peOffset,
                                            std::size_t size);

// A structure field named in a fixture's .fields file.
struct Field {
    std::uint64_t offset = 0;
    int width = 0;
    std::optional<std::uint64_t> fit;  // the size that reaches exactly to the end of its container
};
using Fields = std::map<std::string, Field>;

inline Fields readFields(const std::string& fixture) {
    std::ifstream in(dataPath(fixture + ".fields"));
    EXPECT_TRUE(in) << "missing field list for " << fixture;
    Fields fields;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream row(line);
        std::string label;
        Field field;
        row >> label >> field.offset >> field.width;
        if (std::uint64_t fit = 0; row >> fit) field.fit = fit;
        fields[label] = field;
    }
    return fields;
}

inline void poke(std::vector<std::byte>& bytes, std::uint64_t offset, int width, std::uint64_t value) {
    for (int i = 0; i < width; ++i) bytes.at(offset + i) = static_cast<std::byte>(value >> (8 * i));
}

inline std::uint64_t peek(const std::vector<std::byte>& bytes, std::uint64_t offset, int width) {
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | std::to_integer<unsigned>(bytes.at(offset + i));
    return value;
}

inline void patch(std::vector<std::byte>& bytes, const Fields& fields, const std::string& label,
                  std::uint64_t value) {
    const auto it = fields.find(label);
    ASSERT_NE(it, fields.end()) << "no field " << label;
    poke(bytes, it->second.offset, it->second.width, value);
}

inline std::vector<std::byte> withHeadersAt(const std::vector<std::byte>& bytes, std::uint32_t peOffset,
                                            std::size_t size) {
    const std::uint64_t from = peek(bytes, 0x3C, 4);
    const std::uint64_t sections = peek(bytes, from + 6, 2);
    const std::uint64_t table = from + 24 + peek(bytes, from + 20, 2);
    const std::uint64_t headers = table + 40 * sections - from;
    std::uint64_t firstRaw = bytes.size();
    for (std::uint64_t i = 0; i < sections; ++i) {
        const std::uint64_t raw = peek(bytes, table + 40 * i + 20, 4);
        if (raw != 0 && peek(bytes, table + 40 * i + 16, 4) != 0) firstRaw = std::min(firstRaw, raw);
    }
    const std::uint64_t rawAt = (peOffset + headers + 0x1FF) / 0x200 * 0x200;
    std::vector<std::byte> moved(std::max<std::size_t>(size, rawAt + bytes.size() - firstRaw));
    std::copy_n(bytes.begin(), 0x40, moved.begin());
    poke(moved, 0x3C, 4, peOffset);
    std::copy_n(bytes.begin() + from, headers, moved.begin() + peOffset);
    std::copy(bytes.begin() + firstRaw, bytes.end(), moved.begin() + rawAt);
    const std::uint64_t movedTable = table - from + peOffset;
    for (std::uint64_t i = 0; i < sections; ++i) {
        const std::uint64_t raw = peek(moved, movedTable + 40 * i + 20, 4);
        if (raw >= firstRaw) poke(moved, movedTable + 40 * i + 20, 4, raw - firstRaw + rawAt);
    }
    return moved;
}

// The bytes of `text`.
inline std::vector<std::byte> textOf(const std::string& text) {
    std::vector<std::byte> out(text.size());
    std::memcpy(out.data(), text.data(), text.size());
    return out;
}

// A grey PNG of `side` pixels a side.
inline std::vector<std::byte> pngOf(std::uint32_t side) {
    Image image;
    image.width = image.height = side;
    image.bgra.assign(image.pixelCount() * 4, 0x80);
    image.mask.assign(image.pixelCount(), 0);
    const auto png = encodePng(image);
    return std::vector<std::byte>(reinterpret_cast<const std::byte*>(png->data()),
                                  reinterpret_cast<const std::byte*>(png->data() + png->size()));
}

// Each icon as its name and the widths of its images, "-" for no name.
inline std::vector<std::string> iconsOf(const IconFile& file) {
    std::vector<std::string> icons;
    for (const IconGroup& group : file.groups()) {
        std::string icon = group.name ? group.name->name : "-";
        for (const IconImage& image : group.images) icon += " " + std::to_string(image.info.width);
        icons.push_back(icon);
    }
    return icons;
}

// "NAMED", "1", ... in the order the file delivers its icons; "-" for none.
inline std::vector<std::string> groupNames(const IconFile& file) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < file.count(); ++i) {
        const auto& name = file.group(i).name;
        names.push_back(!name ? "-" : name->id ? std::to_string(*name->id) : name->name);
    }
    return names;
}

// The same groups with the same images, byte for byte.
inline void expectSameGroups(const IconFile& got, const IconFile& want, const std::string& what) {
    ASSERT_EQ(groupNames(got), groupNames(want)) << what;
    for (std::size_t i = 0; i < want.count(); ++i) {
        const auto& a = got.group(i).images;
        const auto& b = want.group(i).images;
        ASSERT_EQ(a.size(), b.size()) << what << " group " << i;
        for (std::size_t j = 0; j < b.size(); ++j) {
            const Bytes x = a[j].data, y = b[j].data;
            EXPECT_TRUE(std::equal(x.begin(), x.end(), y.begin(), y.end()))
                << what << " group " << i << " image " << j;
        }
    }
}

// "32x32x8" per stored image; "png" marks PNG images.
inline std::vector<std::string> imageList(const IconGroup& group) {
    std::vector<std::string> list;
    for (const IconImage& image : group.images) {
        list.push_back(std::to_string(image.info.width) + "x" + std::to_string(image.info.height) + "x" +
                       std::to_string(image.info.bits) + (image.info.png ? "png" : ""));
    }
    return list;
}

inline Rgba pixel(const Image& image, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = image.bgra.data() + (std::size_t{y} * image.width + x) * 4;
    return {p[2], p[1], p[0], p[3]};
}

// Compares every pixel with `expected(x, y)`; stops at the first few misses so
// that one wrong decode does not flood the log.
template <class Expected>
void expectPixels(const Image& image, Expected&& expected, const std::string& what) {
    int misses = 0;
    for (std::uint32_t y = 0; y < image.height && misses < 5; ++y) {
        for (std::uint32_t x = 0; x < image.width && misses < 5; ++x) {
            const Rgba want = expected(static_cast<int>(x), static_cast<int>(y));
            const Rgba got = pixel(image, x, y);
            if (got != want) {
                ADD_FAILURE() << what << " at (" << x << "," << y << "): got " << got << ", want " << want;
                ++misses;
            }
        }
    }
}

// Every file generated into tests/data, for the tests that treat them alike.
inline const std::vector<std::string>& allFixtures() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const char* folder : {"ico", "pe", "ne"}) {
            for (const auto& entry : std::filesystem::directory_iterator(dataPath(folder))) {
                if (entry.path().extension() == ".fields") continue;
                list.push_back(std::string(folder) + "/" + entry.path().filename().string());
            }
        }
        list.push_back("sample.dll");
        std::sort(list.begin(), list.end());
        return list;
    }();
    return names;
}

}  // namespace pictrove::test
