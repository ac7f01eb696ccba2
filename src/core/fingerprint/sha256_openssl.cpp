// OpenSSL's libcrypto is loaded the first time a digest is asked for, not
// when the program starts: binding its thousands of symbols costs every run
// of the command-line tool (a thumbnail, a listing) more than the work
// itself, and only `scan` needs it.
#include <dlfcn.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>

#include <stdexcept>
#include <string>

#include "fingerprint/sha256.h"

namespace pictrove {
namespace {

struct Crypto {
    EVP_MD_CTX* (*newContext)();
    void (*freeContext)(EVP_MD_CTX*);
    const EVP_MD* (*sha256)();
    int (*init)(EVP_MD_CTX*, const EVP_MD*, ENGINE*);
    int (*update)(EVP_MD_CTX*, const void*, size_t);
    int (*final)(EVP_MD_CTX*, unsigned char*, unsigned int*);
};

#if OPENSSL_VERSION_MAJOR >= 3
const std::string kLibrary = "libcrypto.so." + std::to_string(OPENSSL_VERSION_MAJOR);
#else
const std::string kLibrary = "libcrypto.so.1.1";
#endif

template <class F>
bool bind(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(dlsym(library, name));
    return function != nullptr;
}

const Crypto* loadCrypto() {
    void* library = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    static Crypto crypto{};
    const bool bound =
        bind(library, "EVP_MD_CTX_new", crypto.newContext) &&
        bind(library, "EVP_MD_CTX_free", crypto.freeContext) && bind(library, "EVP_sha256", crypto.sha256) &&
        bind(library, "EVP_DigestInit_ex", crypto.init) && bind(library, "EVP_DigestUpdate", crypto.update) &&
        bind(library, "EVP_DigestFinal_ex", crypto.final);
    return bound ? &crypto : nullptr;
}

const Crypto& crypto() {
    static const Crypto* const loaded = loadCrypto();  // once, whichever thread comes first
    if (!loaded) throw std::runtime_error("SHA-256 needs OpenSSL's " + kLibrary + ", which cannot be loaded");
    return *loaded;
}

}  // namespace

class Sha256::State {
public:
    State() : context_(crypto().newContext()) {
        if (!context_ || crypto().init(context_, crypto().sha256(), nullptr) != 1) throw std::bad_alloc();
    }
    ~State() { crypto().freeContext(context_); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    EVP_MD_CTX* context_;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::update(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) crypto().update(state_->context_, bytes.data(), bytes.size());
}

Sha256Digest Sha256::finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    crypto().final(state_->context_, digest.data(), &length);
    return digest;
}

}  // namespace pictrove
