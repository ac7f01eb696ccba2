// A byte source for tests that reads exactly the bytes asked for, nothing
// around them, and leaves every other byte at 0xA5: a reader that looks at
// a field before asking for its range sees garbage instead of the right
// value or a quiet zero. With a chunk of 64 KiB and a zero fill it reads
// as files on disk are read instead.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "mapped_file.h"

namespace pictrove::test {

inline constexpr std::byte kUnreadByte{0xA5};

class UnreadMarkingStorage final : public MappedFile::Storage {
public:
    explicit UnreadMarkingStorage(std::vector<std::byte> bytes, std::size_t chunk = 1,
                                  std::byte fill = kUnreadByte)
        : Storage(bytes.size(),
                  Options{.chunk = chunk, .readWholeUpTo = 0, .unreadFill = fill, .walkBlock = 0}),
          bytes_(std::move(bytes)) {}

private:
    std::size_t readAt(std::uint64_t offset, std::byte* into, std::size_t length) override {
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), length, into);
        return length;
    }
    std::vector<std::byte> bytes_;
};

// `bytes` as a file read only where asked.
inline MappedFile readWhereAsked(std::vector<std::byte> bytes, std::size_t chunk = 1,
                                 std::byte fill = kUnreadByte) {
    return MappedFile::fromStorage(std::make_shared<UnreadMarkingStorage>(std::move(bytes), chunk, fill));
}

}  // namespace pictrove::test
