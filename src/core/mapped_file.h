// A file's bytes in memory the program owns. Opening reads nothing: only
// the ranges the readers ask for are read (the first bytes that tell what a
// file is, an executable's headers and resources but not its code, a small
// file whole), and memory is taken only for what was read, never for the
// whole file. Once read, the bytes stay as they were even when the file is
// cut short or rewritten on disk: a file that shrank comes out as damaged
// icons, never as a fault.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "byte_reader.h"
#include "reader_limits.h"
#include "result.h"

namespace pictrove {

class FileBytes;

#ifdef _WIN32
using NativeFile = void*;  // a HANDLE
#else
using NativeFile = int;  // a descriptor
#endif

class MappedFile {
public:
    MappedFile() = default;  // an empty file
    // Opens without blocking; only regular files are read (a pipe, device or
    // socket could stall the open or hand out endless bytes).
    static Result<MappedFile> open(const std::filesystem::path& path);

    // Reads through a regular file the caller opened and keeps open,
    // duplicating it: the bytes come from that file, whatever its name leads
    // to by now. `size` is the file's size.
    static Result<MappedFile> fromOpenFile(NativeFile file, std::uint64_t size);

    // Wraps bytes already in memory (tests, embedded data, clipboard).
    static MappedFile fromBuffer(std::vector<std::byte> bytes);
    // Bytes a reader makes rather than finds: `size` of them, which `make`
    // gives (zeros past what it gives) when they are first read, once. They
    // are no part of any file: their FileBytes have no fileOffset. A maker
    // that cannot make them throws; they then read as zeros, and
    // FileBytes::whyNotMade() gives its what().
    static MappedFile madeOnFirstRead(std::uint64_t size, std::function<std::vector<std::byte>()> make);
    // Reads bytes that stay where they are, owned by someone else, without
    // a copy; `keeper` holds them in place as long as the file and whatever
    // was read from it live.
    static MappedFile fromBorrowed(Bytes bytes, std::shared_ptr<const void> keeper);

    class Storage;
    // Any other source of bytes (tests read through one that marks what was
    // never asked for).
    static MappedFile fromStorage(std::shared_ptr<Storage> storage);

    // Bytes in the file, up to limits::kMaxFileView.
    std::uint64_t size() const;

    // The bytes of [offset, offset + length), cut to the end of the file,
    // read first unless they were before. Empty when the range starts at or
    // past the end, or when there is no memory to read it into. This is the
    // only way to the file's bytes, so nothing can be looked at before it
    // was asked for. Safe from several threads at once: the bytes handed
    // out never move or change.
    Bytes read(std::uint64_t offset, std::uint64_t length) const;
    // The same range, cut to the end of the file, to be read only when its
    // bytes are first asked for.
    FileBytes later(std::uint64_t offset, std::uint64_t length) const;
    void load(std::uint64_t offset, std::uint64_t length) const { read(offset, length); }
    void loadAll() const { read(0, size()); }
    // The whole file, read first where it was not.
    Bytes bytes() const { return read(0, size()); }

    // Reads the whole file in one go when it is small enough for one read to
    // cost less than working out which parts are needed.
    void loadAllIfSmall() const;

    // Copies [offset, offset + length) into `into` without keeping it in
    // memory (for a library that keeps what it needs itself): zeros past
    // the end of the file.
    void copyOut(std::uint64_t offset, std::byte* into, std::size_t length) const;

    // How many bytes came from the file so far.
    std::uint64_t bytesRead() const;

    // Closes the file, keeping what was read of it: those bytes are still
    // handed out, while a read that needs any other throws FileReleased.
    // For every copy of this MappedFile, from any thread.
    void release() const;

private:
    explicit MappedFile(std::shared_ptr<Storage> storage) : storage_(std::move(storage)) {}
    std::shared_ptr<Storage> storage_;
};

// Address space for the whole file, with memory behind it taken chunk by
// chunk as the chunks are read. A chunk is read once: a short read (the file
// shrank) leaves zeros. Reads from several threads take turns.
// A read of bytes never read before from a file that was closed (release()).
class FileReleased : public std::runtime_error {
public:
    FileReleased() : std::runtime_error("the file was closed before these bytes of it were read") {}
};

class MappedFile::Storage {
public:
    static constexpr std::size_t kChunk = 4 * 1024;
    static constexpr std::size_t kWalkBlock = 64 * 1024;

    virtual ~Storage();
    std::uint64_t size() const { return size_; }
    // For a `walk` through a file's structures, which come back to their
    // neighbourhood again and again, the chunks not read yet in the
    // walk-sized blocks that hold the range are read with it; a range within
    // the first chunk is read with that chunk alone.
    Bytes read(std::uint64_t offset, std::uint64_t length, bool walk = false);
    // Copies [offset, offset + length) into `into`: from memory when all of
    // it was read before, else straight from the file, without keeping it.
    // Zeros past the end of what the file gives.
    void copyOut(std::uint64_t offset, std::byte* into, std::size_t length);
    std::uint64_t bytesRead() {
        const std::lock_guard lock(mutex_);
        return bytesRead_;
    }
    std::uint64_t readWholeUpTo() const { return readWholeUpTo_; }
    bool allRead() const { return allRead_.load(std::memory_order_acquire); }
    bool made() const { return made_; }  // by a reader, not read from a file
    // Why bytes a reader makes could not be made, once they were asked for;
    // empty while they were not, or when they were made.
    virtual std::string whyNotMade() const { return {}; }
    // Closes the file under the turn at it (see MappedFile::release).
    void release();

protected:
    struct Options {
        std::size_t chunk = kChunk;  // the unit of reading
        std::uint64_t readWholeUpTo = limits::kReadWholeUpTo;
        std::optional<std::byte> unreadFill;  // what unread bytes hold; zero without
        // What read takes in at once around a range for a walk through
        // headers, tables and directories, where one chunk at a time would
        // take many reads; an image body (FileBytes) is read alone.
        std::size_t walkBlock = kWalkBlock;
        bool made = false;
    };
    explicit Storage(std::size_t size) : Storage(size, Options{}) {}
    Storage(std::size_t size, Options options);
    // Bytes in memory already, read as they lie: every chunk counts as read.
    explicit Storage(Bytes borrowed);
    // Reads up to `length` bytes at `offset` into `into`; how many came.
    virtual std::size_t readAt(std::uint64_t offset, std::byte* into, std::size_t length) = 0;
    // Called on a thread that is about to wait for another thread's turn at
    // the file (a source for tests learns that two threads want bytes at once).
    virtual void waiting() {}
    // Lets go of the file, on the turn at it; no readAt follows.
    virtual void closeFile() {}

private:
    // The first chunk in [from, to) that was read (or not), else `to`.
    std::size_t firstWith(bool read, std::size_t from, std::size_t to) const;
    // Marks chunks whose bytes are in place; never before, as the last mark
    // hands the whole file out without the lock.
    void markRead(std::size_t from, std::size_t to);
    std::unique_lock<std::mutex> takeTurn();

    class Memory;
    std::unique_ptr<Memory> memory_;
    std::size_t size_;
    std::size_t chunk_;
    std::size_t walkBlock_;
    std::uint64_t readWholeUpTo_;
    bool made_ = false;
    // Set once the bytes of every chunk are in place, after the last read:
    // from then on reads need neither the lock nor a look at the chunks (a
    // small file is read whole at once).
    std::atomic<bool> allRead_{false};
    std::mutex mutex_;  // guards the members below
    std::uint64_t bytesRead_ = 0;
    bool released_ = false;  // the file is closed: what was not read is gone
    // A bit for each chunk, set once its bytes are in place: read without
    // the lock by a read whose chunks are all in (most reads of a walk).
    std::unique_ptr<std::atomic<std::uint64_t>[]> loaded_;
    std::size_t chunksRead_ = 0;
    std::size_t lastFrom_ = 0, lastTo_ = 0;  // the range last read, all of it in memory
};

// A range of a file whose bytes are read when first asked for, or bytes
// already in memory. An image's header tells all that listing it needs;
// its body is read only when it is decoded or copied.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(Bytes memory) : memory_(memory), size_(memory.size()) {}  // in memory already
    FileBytes(MappedFile::Storage* storage, std::uint64_t offset, std::uint64_t size)
        : storage_(storage), offset_(offset), size_(size) {}

    std::uint64_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // All the bytes, read first where they were not; empty when there is no
    // memory to read them into.
    Bytes get() const { return storage_ ? storage_->read(offset_, size_) : memory_; }
    operator Bytes() const { return get(); }  // wherever bytes are wanted
    // The first `length` bytes or fewer, reading no more than those.
    Bytes head(std::uint64_t length) const {
        length = std::min(length, size_);
        return storage_ ? storage_->read(offset_, length) : memory_.first(static_cast<std::size_t>(length));
    }
    // What follows the first `count` bytes.
    FileBytes from(std::uint64_t count) const {
        count = std::min(count, size_);
        if (!storage_) return FileBytes(memory_.subspan(static_cast<std::size_t>(count)));
        return FileBytes(storage_, offset_ + count, size_ - count);
    }
    // Why these bytes, made by a reader, could not be made (see
    // MappedFile::madeOnFirstRead); empty for bytes that were.
    std::string whyNotMade() const { return storage_ ? storage_->whyNotMade() : std::string(); }
    // Where the range starts in its file; nothing for bytes that were in
    // memory from the start.
    std::optional<std::uint64_t> fileOffset() const {
        return storage_ && !storage_->made() ? std::optional(offset_) : std::nullopt;
    }

private:
    friend std::vector<std::byte> readHeads(std::span<const FileBytes> ranges, std::size_t length);
    friend void readAhead(std::vector<FileBytes> ranges);
    MappedFile::Storage* storage_ = nullptr;  // owned by the file's holder
    Bytes memory_;
    std::uint64_t offset_ = 0;
    std::uint64_t size_ = 0;
};

// The first `length` bytes of each range, or all of a shorter one, at
// i * length in the result for ranges[i], zeros after. Ranges of a file that
// lie close together are read in one go and not kept in its memory: listing
// a library needs a few dozen bytes of each of thousands of images, which
// read one by one, or chunk by chunk into memory, would cost many times more.
std::vector<std::byte> readHeads(std::span<const FileBytes> ranges, std::size_t length);

// Reads all of `ranges` into their files' memory, in file order, ranges no
// more than a page apart in one read: work that takes them from several
// threads then finds them there, instead of taking turns at the file.
void readAhead(std::vector<FileBytes> ranges);

inline std::uint64_t MappedFile::size() const {
    return storage_ ? storage_->size() : 0;
}

inline Bytes MappedFile::read(std::uint64_t offset, std::uint64_t length) const {
    return storage_ ? storage_->read(offset, length, true) : Bytes();
}

inline FileBytes MappedFile::later(std::uint64_t offset, std::uint64_t length) const {
    if (!storage_ || offset >= storage_->size()) return {};
    return FileBytes(storage_.get(), offset, std::min(length, storage_->size() - offset));
}

inline void MappedFile::copyOut(std::uint64_t offset, std::byte* into, std::size_t length) const {
    if (storage_) {
        storage_->copyOut(offset, into, length);
    } else if (length > 0) {
        std::memset(into, 0, length);
    }
}

inline std::uint64_t MappedFile::bytesRead() const {
    return storage_ ? storage_->bytesRead() : 0;
}

inline void MappedFile::release() const {
    if (storage_) storage_->release();
}

// What the readers see of a file, or of a part of it (an animated cursor's
// frame, an ELF section): offsets count from the window's start, and bytes
// come only through read, which reads them first.
class FileView {
public:
    FileView() = default;
    explicit FileView(const MappedFile& file) : file_(&file), size_(file.size()) {}
    // Bytes that are all in memory already.
    explicit FileView(Bytes memory) : memory_(memory), size_(memory.size()) {}

    std::uint64_t size() const { return size_; }

    // [offset, offset + length) cut to the window; empty when it starts at or
    // past the end.
    Bytes read(std::uint64_t offset, std::uint64_t length) const {
        if (offset >= size_) return {};
        length = std::min(length, size_ - offset);
        if (file_) return file_->read(base_ + offset, length);
        return memory_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    }
    // The same range, read only when its bytes are first asked for.
    FileBytes later(std::uint64_t offset, std::uint64_t length) const {
        if (offset >= size_) return {};
        length = std::min(length, size_ - offset);
        if (file_) return file_->later(base_ + offset, length);
        return FileBytes(memory_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length)));
    }
    // Copies the range into `into`, keeping it in memory no more than it
    // was; false, copying nothing, unless all of it lies in the window.
    bool copyOut(std::uint64_t offset, std::byte* into, std::uint64_t length) const {
        if (!fitsIn(size_, offset, length)) return false;
        if (file_) {
            file_->copyOut(base_ + offset, into, static_cast<std::size_t>(length));
        } else if (length > 0) {
            std::memcpy(into, memory_.data() + offset, static_cast<std::size_t>(length));
        }
        return true;
    }
    // The whole range or nothing.
    std::optional<Bytes> exact(std::uint64_t offset, std::uint64_t length) const {
        if (!fitsIn(size_, offset, length)) return std::nullopt;
        if (length == 0) return Bytes();
        const Bytes bytes = read(offset, length);
        if (bytes.size() != length) return std::nullopt;
        return bytes;
    }
    // The part [offset, offset + length), cut to this window.
    FileView window(std::uint64_t offset, std::uint64_t length) const {
        FileView part = *this;
        offset = std::min(offset, size_);
        part.base_ = base_ + offset;
        part.size_ = std::min(length, size_ - offset);
        if (!file_) part.memory_ = memory_.subspan(static_cast<std::size_t>(offset));
        return part;
    }

    std::optional<std::uint8_t> u8At(std::uint64_t offset) const {
        const auto bytes = exact(offset, 1);
        return bytes ? std::optional(std::to_integer<std::uint8_t>((*bytes)[0])) : std::nullopt;
    }
    std::optional<std::uint16_t> u16At(std::uint64_t offset) const {
        const auto bytes = exact(offset, 2);
        return bytes ? std::optional(loadU16(bytes->data())) : std::nullopt;
    }
    std::optional<std::uint32_t> u32At(std::uint64_t offset) const {
        const auto bytes = exact(offset, 4);
        return bytes ? std::optional(loadU32(bytes->data())) : std::nullopt;
    }
    bool hasTagAt(std::uint64_t offset, std::string_view tag) const {
        const auto bytes = exact(offset, tag.size());
        return bytes && pictrove::hasTagAt(*bytes, 0, tag);
    }

private:
    const MappedFile* file_ = nullptr;
    Bytes memory_;
    std::uint64_t base_ = 0;
    std::uint64_t size_ = 0;
};

}  // namespace pictrove
