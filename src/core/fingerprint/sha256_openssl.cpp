#include <openssl/evp.h>

#include <new>

#include "fingerprint/sha256.h"

namespace pictrove {

class Sha256::State {
public:
    State() : context_(EVP_MD_CTX_new()) {
        if (!context_ || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
    }
    ~State() { EVP_MD_CTX_free(context_); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    EVP_MD_CTX* context_;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::update(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) EVP_DigestUpdate(state_->context_, bytes.data(), bytes.size());
}

Sha256Digest Sha256::finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(state_->context_, digest.data(), &length);
    return digest;
}

}  // namespace pictrove
