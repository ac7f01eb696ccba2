// Damaged copies of every fixture, fed through the whole engine: open, decode
// every stored image and every shown icon. The expectations are modest (no
// crash, no hang, no more icons than the intact file, no huge allocation);
// the sanitizer build turns any stray read into a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string_view>
#include <tuple>
#include <unordered_set>

#include "allocation_watch.h"
#include "test_support.h"

namespace pictrove::test {
namespace {

// Enough for the largest honest decode here (256 px, scaled in floats), far
// below what a size field of 0x7FFFFFFF would ask for.
constexpr std::size_t kAllocationLimit = std::size_t{8} << 20;

// Hashes of image bytes already decoded from the intact file. Decoding the
// same bytes again proves nothing and dominates the run time, so only images
// the damage reached are decoded.
using Known = std::unordered_set<std::size_t>;

std::size_t hashOf(Bytes data) {
    return std::hash<std::string_view>{}({reinterpret_cast<const char*>(data.data()), data.size()});
}

std::size_t exercise(std::vector<std::byte> bytes, const Known& known, GroupKind kind) {
    const auto file = openBytes(std::move(bytes), kind);
    for (std::size_t i = 0; i < file.count(); ++i) {
        bool changed = false;
        for (const IconImage& image : file.group(i).images) {
            if (known.contains(hashOf(image.data))) continue;
            changed = true;
            if (const auto decoded = decodeImage(image)) {
                EXPECT_EQ(decoded->width, image.info.width);
                EXPECT_EQ(decoded->height, image.info.height);
            }
        }
        if (!changed) continue;
        if (const auto icon = file.icon(i)) {
            EXPECT_EQ(icon->bgra.size(), 32u * 32 * 4);
        }
    }
    return file.count();
}

// Every position of a small file; for larger ones the first KiB (where the
// headers are) and an even spread over the rest.
std::vector<std::size_t> positions(std::size_t size) {
    std::vector<std::size_t> list;
    const std::size_t dense = std::min<std::size_t>(size, size <= 2048 ? 2048 : 1024);
    for (std::size_t i = 0; i < dense; ++i) list.push_back(i);
    if (size > dense) {
        const std::size_t step = std::max<std::size_t>(1, (size - dense) / 256);
        for (std::size_t i = dense; i < size; i += step) list.push_back(i);
    }
    return list;
}

class Hostile : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        bytes = readFixture(GetParam());
        // The files with cursor groups are damaged for what their cursors need.
        if (GetParam().find("cursors") != std::string::npos) kind = GroupKind::cursors;
        const auto file = openBytes(bytes, kind);
        intact = exercise(bytes, {}, kind);
        // Changes inside compressed PNG data only exercise the PNG library,
        // whose damage handling png_test covers; they are also the slowest.
        for (std::size_t i = 0; i < file.count(); ++i) {
            for (const IconImage& image : file.group(i).images) {
                known.insert(hashOf(image.data));
                if (!image.info.png) continue;
                const auto begin = static_cast<std::size_t>(image.data.fileOffset().value());
                pngData.emplace_back(begin + 33, begin + image.data.size());  // past the IHDR chunk
            }
        }
        resetLargestAllocation();
    }
    void TearDown() override { EXPECT_LT(largestAllocation(), kAllocationLimit) << GetParam(); }

    bool inPngData(std::size_t at) const {
        return std::any_of(pngData.begin(), pngData.end(),
                           [at](const auto& range) { return at >= range.first && at < range.second; });
    }

    std::vector<std::byte> bytes;
    GroupKind kind = GroupKind::icons;
    std::size_t intact = 0;
    Known known;
    std::vector<std::pair<std::size_t, std::size_t>> pngData;
};

TEST_P(Hostile, Truncated) {
    for (std::size_t length : positions(bytes.size())) {
        EXPECT_LE(exercise({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)}, known, kind),
                  intact)
            << "cut at " << length;
    }
}

// A changed byte may turn a count into a larger one that still fits, so
// extra (nonsense) icons are allowed here; everything else must hold.
TEST_P(Hostile, BytesChanged) {
    for (std::size_t at : positions(bytes.size())) {
        if (inPngData(at)) continue;
        for (std::byte value : {bytes[at] ^ std::byte{0xFF}, std::byte{0}}) {
            auto copy = bytes;
            copy[at] = value;
            exercise(std::move(copy), known, kind);
        }
    }
    std::minstd_rand random(static_cast<unsigned>(bytes.size()));
    for (int round = 0; round < 100; ++round) {
        auto copy = bytes;
        const std::size_t at = random() % copy.size();
        for (std::size_t i = at; i < std::min(copy.size(), at + 1 + random() % 16); ++i) {
            copy[i] = static_cast<std::byte>(random());
        }
        exercise(std::move(copy), known, kind);
    }
}

// Icon and cursor files have a layout simple enough to list here: the count,
// each entry's size and offset, and the header fields of each bitmap.
Fields iconFileFields(const std::vector<std::byte>& bytes) {
    Fields fields{{"count", {4, 2, {}}}};
    for (std::uint64_t k = 0; k < peek(bytes, 4, 2); ++k) {
        const std::uint64_t entry = 6 + 16 * k, image = peek(bytes, entry + 12, 4);
        const std::string name = "entry." + std::to_string(k);
        fields[name + ".size"] = {entry + 8, 4, bytes.size() - image};
        fields[name + ".offset"] = {entry + 12, 4, {}};
        if (peek(bytes, image, 4) != 40 && peek(bytes, image, 4) != 124) continue;  // a PNG
        for (const auto& [field, at, width] : {std::tuple{"header_size", 0, 4},
                                               {"width", 4, 4},
                                               {"height", 8, 4},
                                               {"bits", 14, 2},
                                               {"compression", 16, 4},
                                               {"clr_used", 32, 4}}) {
            fields[name + "." + field] = {image + at, width, {}};
        }
    }
    return fields;
}

TEST_P(Hostile, FieldsOverwritten) {
    const bool listed = std::filesystem::exists(dataPath(GetParam() + ".fields"));
    const Fields fields = listed ? readFields(GetParam()) : iconFileFields(bytes);
    for (const auto& [label, field] : fields) {
        const std::uint64_t ones = field.width == 8 ? ~0ull : (1ull << (8 * field.width)) - 1;
        std::vector<std::uint64_t> values{0, 1, ones >> 1, (ones >> 1) + 1, ones, ones - 1};
        if (field.fit) values.push_back(*field.fit + 1);
        for (std::uint64_t value : values) {
            auto copy = bytes;
            poke(copy, field.offset, field.width, value);
            EXPECT_LE(exercise(std::move(copy), known, kind), intact) << label << "=" << value;
        }
        if (field.fit) {
            auto copy = bytes;
            poke(copy, field.offset, field.width, *field.fit);
            EXPECT_EQ(exercise(std::move(copy), known, kind), intact)
                << label << " reaching exactly to the end";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Hostile, testing::ValuesIn(allFixtures()), [](const auto& param) {
    std::string name = param.param;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
});

TEST(HostileAllocation, TheWatchSeesLargeRequests) {
    resetLargestAllocation();
    std::vector<std::uint8_t> big(kAllocationLimit);
    EXPECT_GE(largestAllocation(), kAllocationLimit);
    resetLargestAllocation();
}

}  // namespace
}  // namespace pictrove::test
