// SHA-256 from the platform's well-kept implementation (OpenSSL's libcrypto,
// or the system's cryptography API on Windows), which uses the processor's
// hashing instructions where it has them.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "mapped_file.h"
#include "result.h"

namespace pictrove {

using Sha256Digest = std::array<std::uint8_t, 32>;

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(std::span<const std::uint8_t> bytes);
    // The digest of everything given since construction; the object is spent.
    Sha256Digest finish();

    class State;

private:
    std::unique_ptr<State> state_;
};

Sha256Digest sha256Of(std::span<const std::uint8_t> bytes);

// Lower-case hexadecimal.
std::string hexText(std::span<const std::uint8_t> bytes);

// A regular file opened once, so that all that is said of it comes from one
// file, whatever its name leads to meanwhile: its digest, read through the
// open file in large sequential blocks, and its bytes for the icon readers.
// Opening never waits (a named pipe is refused, not waited on).
struct FileDigest {
    std::uint64_t size = 0;
    Sha256Digest sha256{};
};

class OpenedFile {
public:
    static Result<OpenedFile> open(const std::filesystem::path& path);
    OpenedFile(OpenedFile&& other) noexcept;
    OpenedFile& operator=(OpenedFile&&) = delete;
    OpenedFile(const OpenedFile&) = delete;
    ~OpenedFile();

    // The size the file had when it was opened.
    std::uint64_t size() const { return size_; }
    // Reads the whole file; an error when it cannot be read, or when it did
    // not hold the bytes it had when opened.
    Result<FileDigest> digest();
    // The file's bytes, read through this open file when asked for.
    Result<MappedFile> bytes() const;
    // True when the file's size and change time are those it had when
    // opened: nothing wrote to it in between, as far as the system tells.
    bool unchanged() const;

    struct State;

private:
    OpenedFile(std::filesystem::path path, std::unique_ptr<State> state);
    std::filesystem::path path_;
    std::unique_ptr<State> state_;
    std::uint64_t size_ = 0;
};

}  // namespace pictrove
