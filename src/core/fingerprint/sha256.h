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

// The digest of a whole regular file, read in large sequential blocks; the
// file's size comes with it. Opening never waits (a named pipe is refused,
// not waited on).
struct FileDigest {
    std::uint64_t size = 0;
    Sha256Digest sha256{};
};
Result<FileDigest> digestFile(const std::filesystem::path& path);

}  // namespace pictrove
