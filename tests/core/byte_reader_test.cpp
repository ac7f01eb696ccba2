#include "byte_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

namespace pictrove {
namespace {

TEST(ByteReader, RangeChecksNeverOverflow) {
    constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
    struct Case {
        std::uint64_t size, offset, length;
        bool fits;
    } cases[] = {
        {10, 0, 10, true},
        {10, 10, 0, true},
        {10, 10, 1, false},
        {10, 11, 0, false},
        {10, 9, 1, true},
        {10, 9, 2, false},
        {10, 1, kMax, false},
        {10, kMax, 1, false},
        {0, 0, 0, true},
        {0, 0, 1, false},
        {10, 0xFFFFFFFF, 0xFFFFFFFF, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fitsIn(c.size, c.offset, c.length), c.fits) << c.size << " " << c.offset << " " << c.length;
    }
}

TEST(ByteReader, ReadsLittleEndianAndLatchesFailure) {
    const std::array<std::byte, 7> data{std::byte{0x34}, std::byte{0x12}, std::byte{0x78}, std::byte{0x56},
                                        std::byte{0x34}, std::byte{0x12}, std::byte{0xFF}};
    ByteReader in(data);
    EXPECT_EQ(in.u16(), 0x1234);
    EXPECT_EQ(in.u32(), 0x12345678u);
    EXPECT_TRUE(in.ok());
    EXPECT_EQ(in.u16(), 0);  // one byte left: fails without reading it
    EXPECT_FALSE(in.ok());
    EXPECT_EQ(in.u8(), 0);  // stays failed
    EXPECT_EQ(in.remaining(), 0u);

    ByteReader seeker(data);
    EXPECT_TRUE(seeker.seek(7));
    EXPECT_FALSE(seeker.seek(8));
    EXPECT_FALSE(seeker.ok());

    EXPECT_EQ(u32At(data, 3), 0xFF123456u);
    EXPECT_FALSE(u32At(data, 4).has_value());
    EXPECT_FALSE(slice(data, 8, 0).has_value());
    EXPECT_EQ(slice(data, 7, 0)->size(), 0u);
}

}  // namespace
}  // namespace pictrove
