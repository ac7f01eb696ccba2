#include "pe_builder.h"

#include <algorithm>
#include <fstream>
#include <string>

namespace pictrove::testing {
namespace {

class Writer {
public:
    std::vector<std::uint8_t> bytes;
    void u8(std::uint32_t v) { bytes.push_back(static_cast<std::uint8_t>(v)); }
    void u16(std::uint32_t v) {
        u8(v & 0xFF);
        u8(v >> 8 & 0xFF);
    }
    void u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void pad(std::size_t size) { bytes.resize(std::max(bytes.size(), size), 0); }
    void put32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    std::size_t size() const { return bytes.size(); }
};

void directory(Writer& w, std::uint32_t entries) {
    w.u32(0);
    w.u32(0);
    w.u32(0);
    w.u16(0);
    w.u16(entries);
}

}  // namespace

std::vector<std::uint8_t> solidIconDib(std::uint32_t argb, std::uint32_t size) {
    Writer w;
    w.u32(40);
    w.u32(size);
    w.u32(2 * size);
    w.u16(1);
    w.u16(32);
    for (int i = 0; i < 6; ++i) w.u32(0);
    for (std::uint32_t i = 0; i < size * size; ++i) w.u32(argb);
    w.pad(w.size() + (size + 31) / 32 * 4 * size);  // AND mask: all opaque
    return w.bytes;
}

std::vector<std::uint8_t> halfTransparentIconDib(std::uint32_t argb) {
    std::vector<std::uint8_t> dib = solidIconDib(argb);
    for (std::size_t y = 0; y < 32; ++y) {
        for (std::size_t x = 16; x < 32; ++x) {
            for (std::size_t c = 0; c < 4; ++c) dib[40 + (y * 32 + x) * 4 + c] = 0;
        }
    }
    return dib;
}

std::uint32_t iconColour(std::size_t index) {
    const auto n = static_cast<std::uint32_t>(index);
    return 0xFF000000u | (n * 37 % 256) << 16 | (n * 91 % 256) << 8 | (n * 53 % 256);
}

std::vector<std::uint8_t> buildIconLibrary(const std::vector<std::vector<std::uint8_t>>& images) {
    constexpr std::uint32_t kFileAlign = 0x200;
    constexpr std::uint32_t kSectionRva = 0x1000;
    const auto n = static_cast<std::uint32_t>(images.size());

    // The resource section: the tree first, then the data it points at.
    Writer rsrc;
    const std::uint32_t typeDirs = 16 + 2 * 8;
    const std::uint32_t nameDirSize = 16 + n * 8;
    const std::uint32_t langDirs = typeDirs + 2 * nameDirSize;
    const std::uint32_t dataEntries = langDirs + 2 * n * (16 + 8);
    const std::uint32_t blobs = dataEntries + 2 * n * 16;
    directory(rsrc, 2);
    for (std::uint32_t t = 0; t < 2; ++t) {
        rsrc.u32(t == 0 ? 3 : 14);
        rsrc.u32(0x80000000u | (typeDirs + t * nameDirSize));
    }
    for (std::uint32_t t = 0; t < 2; ++t) {
        directory(rsrc, n);
        for (std::uint32_t i = 0; i < n; ++i) {
            rsrc.u32(i + 1);
            rsrc.u32(0x80000000u | (langDirs + (t * n + i) * 24));
        }
    }
    for (std::uint32_t k = 0; k < 2 * n; ++k) {
        directory(rsrc, 1);
        rsrc.u32(1033);
        rsrc.u32(dataEntries + k * 16);
    }
    const std::size_t dataEntryStart = rsrc.size();
    rsrc.pad(blobs);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> placed;  // offset, size
    for (const auto& image : images) {
        placed.emplace_back(static_cast<std::uint32_t>(rsrc.size()),
                            static_cast<std::uint32_t>(image.size()));
        rsrc.bytes.insert(rsrc.bytes.end(), image.begin(), image.end());
        rsrc.pad((rsrc.size() + 3) & ~std::size_t{3});
    }
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t at = static_cast<std::uint32_t>(rsrc.size());
        rsrc.u16(0);
        rsrc.u16(1);
        rsrc.u16(1);
        rsrc.u8(32);
        rsrc.u8(32);
        rsrc.u8(0);
        rsrc.u8(0);
        rsrc.u16(1);
        rsrc.u16(32);
        rsrc.u32(placed[i].second);
        rsrc.u16(i + 1);
        rsrc.pad((rsrc.size() + 3) & ~std::size_t{3});
        placed.emplace_back(at, 20);
    }
    for (std::uint32_t k = 0; k < 2 * n; ++k) {
        const std::size_t entry = dataEntryStart + k * 16;
        rsrc.put32(entry, kSectionRva + placed[k].first);
        rsrc.put32(entry + 4, placed[k].second);
    }
    const auto rsrcSize = static_cast<std::uint32_t>(rsrc.size());

    Writer pe;
    pe.u16('M' | 'Z' << 8);
    pe.pad(0x3C);
    pe.u32(0x40);
    pe.u32(0x00004550);  // "PE\0\0"
    pe.u16(0x14C);
    pe.u16(1);
    pe.u32(0);
    pe.u32(0);
    pe.u32(0);
    pe.u16(224);
    pe.u16(0x2102);  // executable, 32-bit, DLL
    const std::size_t optional = pe.size();
    pe.u16(0x10B);
    pe.pad(optional + 92);
    pe.u32(16);
    pe.pad(optional + 96 + 2 * 8);
    pe.u32(kSectionRva);
    pe.u32(rsrcSize);
    pe.pad(optional + 224);
    for (char c : std::string(".rsrc\0\0\0", 8)) pe.u8(static_cast<std::uint8_t>(c));
    pe.u32(rsrcSize);
    pe.u32(kSectionRva);
    pe.u32((rsrcSize + kFileAlign - 1) / kFileAlign * kFileAlign);
    pe.u32(kFileAlign);
    pe.pad(pe.size() + 16);
    pe.pad(kFileAlign);
    pe.bytes.insert(pe.bytes.end(), rsrc.bytes.begin(), rsrc.bytes.end());
    pe.pad((pe.size() + kFileAlign - 1) / kFileAlign * kFileAlign);
    return pe.bytes;
}

void writeIconLibrary(const std::filesystem::path& path, std::size_t count) {
    std::vector<std::vector<std::uint8_t>> images;
    images.reserve(count);
    for (std::size_t i = 0; i < count; ++i) images.push_back(solidIconDib(iconColour(i)));
    const auto bytes = buildIconLibrary(images);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace pictrove::testing
