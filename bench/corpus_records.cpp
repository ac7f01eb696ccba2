// Writes COUNT synthetic scan records to standard output, as `pictrove-cli
// scan` prints them (without the images), for timing the index, the
// clusters and the report on corpora too large to scan:
//
//     corpus_records COUNT [FAMILY_SHARE_PERCENT] | pictrove-cli index - -o corpus.idx
//
// Most hashes are random. A share of the records (20 % unless told) belong
// to planted families of about twenty: the family's hash with 0 to 6 bits
// flipped, exact copies sharing the family's group hash. The same COUNT gives
// the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

void hex(std::string& out, std::uint64_t value, int digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int i = digits - 1; i >= 0; --i) out += kDigits[value >> (4 * i) & 15];
}

void sha(std::string& out, std::uint64_t seed) {
    for (int i = 0; i < 4; ++i) hex(out, mix(seed + i), 16);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: corpus_records COUNT [FAMILY_SHARE_PERCENT]\n", stderr);
        return 2;
    }
    const std::uint64_t count = std::strtoull(argv[1], nullptr, 10);
    const std::uint64_t share = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20;
    const std::uint64_t families = count / 100 + 1;
    std::string line;
    for (std::uint64_t n = 0; n < count; ++n) {
        std::uint64_t state = mix(n ^ 0x5EED);
        const auto next = [&] { return state = mix(state); };
        std::uint64_t dhash = next();
        std::uint64_t group = next();
        if (next() % 100 < share) {
            const std::uint64_t family = next() % families;
            dhash = mix(family * 7 + 1);
            const std::uint64_t flips = next() % 7;
            for (std::uint64_t i = 0; i < flips; ++i) dhash ^= std::uint64_t{1} << (next() % 64);
            if (flips == 0) group = mix(family * 7 + 2);
        }
        line.clear();
        line += "{\"file\":\"corpus/";
        hex(line, n & 0xFF, 2);
        line += '/';
        line += std::to_string(n);
        line += ".exe\",\"size\":";
        line += std::to_string(10000 + next() % 100000000);
        line += ",\"sha256\":\"";
        sha(line, next());
        line += "\",\"kind\":\"PE32\",\"icons\":1,\"main\":{\"index\":0,\"id\":1,\"dhash\":\"";
        hex(line, dhash, 16);
        line += "\",\"group_sha256\":\"";
        sha(line, group);
        line += "\"}}\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
