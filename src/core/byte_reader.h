// A bounds-checked cursor over file bytes. Every structure the readers take
// from a file goes through it; there is no raw pointer arithmetic on file data.
//
// Reads past the end never touch memory: they return zero and latch the
// cursor into a failed state, so a parser can read a whole header and check
// ok() once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace pictrove {

using Bytes = std::span<const std::byte>;

// True when [offset, offset + length) lies inside a buffer of `size` bytes.
// Written so that no addition can overflow.
constexpr bool fitsIn(std::uint64_t size, std::uint64_t offset, std::uint64_t length) {
    return offset <= size && length <= size - offset;
}

// The sub-range [offset, offset + length) of `data`, or nothing when it does
// not lie entirely inside.
inline std::optional<Bytes> slice(Bytes data, std::uint64_t offset, std::uint64_t length) {
    if (!fitsIn(data.size(), offset, length)) return std::nullopt;
    return data.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

inline std::uint16_t loadU16(const std::byte* p) {
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(p[0]) |
                                      (std::to_integer<unsigned>(p[1]) << 8));
}

inline std::uint32_t loadU32(const std::byte* p) {
    return std::to_integer<std::uint32_t>(p[0]) | (std::to_integer<std::uint32_t>(p[1]) << 8) |
           (std::to_integer<std::uint32_t>(p[2]) << 16) | (std::to_integer<std::uint32_t>(p[3]) << 24);
}

// Little-endian reads at an absolute offset; nothing when out of range.
inline std::optional<std::uint8_t> u8At(Bytes data, std::uint64_t offset) {
    if (!fitsIn(data.size(), offset, 1)) return std::nullopt;
    return std::to_integer<std::uint8_t>(data[static_cast<std::size_t>(offset)]);
}
inline std::optional<std::uint16_t> u16At(Bytes data, std::uint64_t offset) {
    if (!fitsIn(data.size(), offset, 2)) return std::nullopt;
    return loadU16(data.data() + offset);
}
inline std::optional<std::uint32_t> u32At(Bytes data, std::uint64_t offset) {
    if (!fitsIn(data.size(), offset, 4)) return std::nullopt;
    return loadU32(data.data() + offset);
}

inline std::optional<std::uint64_t> u64At(Bytes data, std::uint64_t offset) {
    if (!fitsIn(data.size(), offset, 8)) return std::nullopt;
    return loadU32(data.data() + offset) | std::uint64_t{loadU32(data.data() + offset + 4)} << 32;
}

// True when `data` holds `tag` (plain ASCII) at `offset`.
inline bool hasTagAt(Bytes data, std::uint64_t offset, std::string_view tag) {
    if (!fitsIn(data.size(), offset, tag.size())) return false;
    return std::memcmp(data.data() + offset, tag.data(), tag.size()) == 0;
}

class ByteReader {
public:
    explicit ByteReader(Bytes data, std::size_t offset = 0) : data_(data) { seek(offset); }

    bool ok() const { return ok_; }
    std::size_t offset() const { return offset_; }
    std::size_t size() const { return data_.size(); }
    std::size_t remaining() const { return ok_ ? data_.size() - offset_ : 0; }

    // Moves to an absolute offset; an offset past the end fails the cursor.
    bool seek(std::uint64_t offset) {
        if (offset > data_.size()) return fail();
        offset_ = static_cast<std::size_t>(offset);
        return ok_;
    }
    bool skip(std::uint64_t count) {
        if (!ok_ || !fitsIn(data_.size(), offset_, count)) return fail();
        offset_ += static_cast<std::size_t>(count);
        return true;
    }

    std::uint8_t u8() {
        const std::byte* p = take(1);
        return p ? std::to_integer<std::uint8_t>(*p) : 0;
    }
    std::uint16_t u16() {
        const std::byte* p = take(2);
        return p ? loadU16(p) : 0;
    }
    std::uint32_t u32() {
        const std::byte* p = take(4);
        return p ? loadU32(p) : 0;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }

    // The next `count` bytes; an empty span (and a failed cursor) when they
    // are not all there.
    Bytes bytes(std::uint64_t count) {
        const std::byte* p = take(count);
        return p ? Bytes(p, static_cast<std::size_t>(count)) : Bytes();
    }

private:
    const std::byte* take(std::uint64_t count) {
        if (!ok_ || !fitsIn(data_.size(), offset_, count)) {
            fail();
            return nullptr;
        }
        const std::byte* p = data_.data() + offset_;
        offset_ += static_cast<std::size_t>(count);
        return p;
    }
    bool fail() {
        ok_ = false;
        return false;
    }

    Bytes data_;
    std::size_t offset_ = 0;
    bool ok_ = true;
};

}  // namespace pictrove
