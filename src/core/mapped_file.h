// A file's bytes in memory the program owns. Opening reads nothing: only
// the ranges the readers ask for are read (the first bytes that tell what a
// file is, an executable's headers and resources but not its code, a small
// file whole), the rest reading as zero. Once read, the bytes stay as they were even when the file is cut
// short or rewritten on disk: a file that shrank comes out as damaged icons,
// never as a fault.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "byte_reader.h"
#include "result.h"

namespace pictrove {

class MappedFile {
public:
    MappedFile() = default;  // an empty file
    // Opens without blocking; only regular files are read (a pipe, device or
    // socket could stall the open or hand out endless bytes).
    static Result<MappedFile> open(const std::filesystem::path& path);

    // Wraps bytes already in memory (tests, embedded data, clipboard).
    static MappedFile fromBuffer(std::vector<std::byte> bytes);

    // The whole file (up to limits::kMaxFileView bytes); parts not read yet
    // are zero.
    Bytes bytes() const;

    // Reads a range (cut to the file) unless it was read before. Call before
    // looking at the range; not meant for use from several threads at once.
    void load(std::uint64_t offset, std::uint64_t length) const;
    void loadAll() const { load(0, bytes().size()); }

    class Storage;

private:
    explicit MappedFile(std::shared_ptr<Storage> storage) : storage_(std::move(storage)) {}
    std::shared_ptr<Storage> storage_;
};

// Zero-filled memory the size of the file, filled chunk by chunk on demand.
// A chunk is read once: a short read (the file shrank) leaves zeros.
class MappedFile::Storage {
public:
    virtual ~Storage();
    Bytes bytes() const { return {data_.get(), size_}; }
    void load(std::uint64_t offset, std::uint64_t length);

protected:
    explicit Storage(std::size_t size);
    std::byte* data() { return data_.get(); }
    // Reads up to `length` bytes at `offset` into `into`; how many came.
    virtual std::size_t readAt(std::uint64_t offset, std::byte* into, std::size_t length) = 0;

private:
    static constexpr std::size_t kChunk = 64 * 1024;
    struct Free {
        std::size_t size;
        void operator()(std::byte* p) const;
    };
    std::unique_ptr<std::byte, Free> data_;
    std::size_t size_;
    std::vector<bool> loaded_;
};

inline Bytes MappedFile::bytes() const {
    return storage_ ? storage_->bytes() : Bytes();
}

inline void MappedFile::load(std::uint64_t offset, std::uint64_t length) const {
    if (storage_) storage_->load(offset, length);
}

}  // namespace pictrove
