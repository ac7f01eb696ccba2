// Bytes a reader made rather than found in its file: an image converted to
// a bitmap, a member inflated out of an archive. They are kept as long as
// the groups that point into them, and their total is capped, so a small
// file cannot have gigabytes made of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "byte_reader.h"

namespace pictrove {

class MadeBytes {
public:
    explicit MadeBytes(std::uint64_t limit) : limit_(limit) {}

    // Whether `length` more bytes would still be within the cap.
    bool hasRoomFor(std::uint64_t length) const { return length <= limit_ - total_; }

    // Keeps `bytes` and hands back where they now are, for as long as this
    // lives (moving it moves no bytes); nothing past the cap.
    std::optional<Bytes> keep(std::vector<std::byte> bytes) {
        if (!hasRoomFor(bytes.size())) return std::nullopt;
        total_ += bytes.size();
        kept_.push_back(std::move(bytes));
        return Bytes(kept_.back());
    }

    // Whether `bytes` lie in what was kept (for checks).
    bool holds(Bytes bytes) const {
        for (const auto& each : kept_) {
            if (bytes.data() >= each.data() && bytes.data() + bytes.size() <= each.data() + each.size())
                return true;
        }
        return false;
    }

    std::uint64_t total() const { return total_; }

private:
    std::uint64_t limit_;
    std::uint64_t total_ = 0;
    std::vector<std::vector<std::byte>> kept_;
};

}  // namespace pictrove
