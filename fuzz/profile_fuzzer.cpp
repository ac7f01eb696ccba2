// The settings file parser: section and key lookups and the integer rules.
// The first two bytes give the lengths of the section and key names that
// follow; the rest is the file's text.
#include <algorithm>
#include <string_view>

#include "fuzz_support.h"
#include "profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    if (size < 2) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t sectionLength = std::min<std::size_t>(data[0] % 16, size - 2);
    const std::size_t keyLength = std::min<std::size_t>(data[1] % 16, size - 2 - sectionLength);
    const std::string_view section = input.substr(2, sectionLength);
    const std::string_view key = input.substr(2 + sectionLength, keyLength);
    const std::string_view text = input.substr(2 + sectionLength + keyLength);

    if (const auto value = findProfileValue(text, section, key)) {
        PICTROVE_FUZZ_CHECK(value->size() <= profile_limits::kMaxValueBytes);
        PICTROVE_FUZZ_CHECK(value->find('\0') == std::string::npos);
        parseProfileInteger(*value);
        parseProfileNumber(*value);
    }
    // The integer rules on raw text too, where every byte value turns up.
    if (const auto number = parseProfileInteger(text)) {
        // Decimal text that parses must say the same when read as a number key.
        const auto again = parseProfileNumber(text);
        PICTROVE_FUZZ_CHECK(again.has_value() && *again == *number);
    }
    return 0;
}
