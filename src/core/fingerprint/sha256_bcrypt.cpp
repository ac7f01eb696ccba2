#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <new>

#include "fingerprint/sha256.h"

namespace pictrove {

class Sha256::State {
public:
    State() {
        if (BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
            throw std::bad_alloc();
        if (BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0) != 0) {
            BCryptCloseAlgorithmProvider(algorithm_, 0);
            throw std::bad_alloc();
        }
    }
    ~State() {
        BCryptDestroyHash(hash_);
        BCryptCloseAlgorithmProvider(algorithm_, 0);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::update(std::span<const std::uint8_t> bytes) {
    // The call takes at most 4 GiB at a time.
    while (!bytes.empty()) {
        const auto part = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1u << 30));
        BCryptHashData(state_->hash_, const_cast<PUCHAR>(bytes.data()), part, 0);
        bytes = bytes.subspan(part);
    }
}

Sha256Digest Sha256::finish() {
    Sha256Digest digest{};
    BCryptFinishHash(state_->hash_, digest.data(), static_cast<ULONG>(digest.size()), 0);
    return digest;
}

}  // namespace pictrove
