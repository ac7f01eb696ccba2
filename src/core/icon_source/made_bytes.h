// Bytes a reader made rather than found in its file: an image converted to
// a bitmap, a member inflated out of an archive. They are kept as long as
// the groups that point into them, and their total is capped, so a small
// file cannot have gigabytes made of it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "mapped_file.h"

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

    // Keeps room for `length` bytes that `make` makes when they are first
    // read, and hands back where they will be; nothing past the cap. They
    // have no place in the reader's file.
    std::optional<FileBytes> keepLater(std::uint64_t length, std::function<std::vector<std::byte>()> make) {
        if (length == 0 || !hasRoomFor(length)) return std::nullopt;
        total_ += length;
        later_.push_back(MappedFile::madeOnFirstRead(length, std::move(make)));
        return later_.back().later(0, length);
    }

    // Whether `bytes` lie in what was kept (for checks).
    bool holds(Bytes bytes) const {
        for (const auto& each : kept_) {
            if (within(bytes, each)) return true;
        }
        return madeOnRead(bytes);
    }
    // Whether they lie in what keepLater kept and was read since (for
    // checks): bytes that may turn out to be no picture once made.
    bool madeOnRead(Bytes bytes) const {
        for (const MappedFile& each : later_) {
            if (each.bytesRead() == each.size() && within(bytes, each.bytes())) return true;
        }
        return false;
    }

    std::uint64_t total() const { return total_; }
    // How many bytes were made so far: those kept, and those keepLater kept
    // that were read since (for checks: listing a file's images makes none).
    std::uint64_t madeSoFar() const {
        std::uint64_t made = 0;
        for (const auto& each : kept_) made += each.size();
        for (const MappedFile& each : later_) made += each.bytesRead();
        return made;
    }

    // Bytes taken out of compressed storage to be looked at, kept or not (a
    // member inflated to read its header): the work a reader counts against
    // its file's budget.
    void countTakenOut(std::uint64_t length) { takenOut_ += std::min(length, UINT64_MAX - takenOut_); }
    std::uint64_t takenOut() const { return takenOut_; }

    // Why a reader stopped short of the whole file: a limit passed, or a
    // container damaged in a way that spoils all it holds. The first reason
    // is kept; the file then gives it as its error, never the icons read
    // before it.
    void fail(std::string why) {
        if (!failure_) failure_ = std::move(why);
    }
    const std::optional<std::string>& failure() const { return failure_; }

private:
    static bool within(Bytes bytes, Bytes whole) {
        return bytes.data() >= whole.data() && bytes.data() + bytes.size() <= whole.data() + whole.size();
    }

    std::uint64_t limit_;
    std::uint64_t total_ = 0;
    std::uint64_t takenOut_ = 0;
    std::optional<std::string> failure_;
    std::vector<std::vector<std::byte>> kept_;
    std::vector<MappedFile> later_;
};

}  // namespace pictrove
