// The settings writer on any text: every change it accepts must read back
// through the profile reader, and every key it was not asked to change must
// read as before. The first byte picks the changes, the rest is the file.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "profile.h"
#include "profile_text.h"
#include "profile_writer.h"

namespace {

struct Key {
    const char* section;
    const char* key;
};

// Keys of a settings file, plus names the text may well hold.
constexpr std::array<Key, 8> kKeys = {{{"Captions", "Title"},
                                       {"Menu", "Copy"},
                                       {"Options", "Color"},
                                       {"Extensions", "E1"},
                                       {"Dialogs", "L1"},
                                       {"S", "K"},
                                       {"s", "k"},
                                       {"", "A"}}};

constexpr std::array<std::string_view, 6> kValues = {"", "v", " blank ", "\"q\"", "a=b;c", "'"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    if (size < 1) return 0;
    const std::size_t pick = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::vector<ProfileChange> changes;
    for (std::size_t i = 0; i < 3; ++i) {
        const Key& key = kKeys[((pick >> (i * 2)) + i) % kKeys.size()];
        const std::size_t which = (pick + i * 3) % (kValues.size() + 1);
        ProfileChange change{key.section, key.key, std::nullopt};
        if (which < kValues.size()) change.value = std::string(kValues[which]);
        changes.push_back(change);
    }
    // A value taken from the text itself, whatever bytes it holds on its
    // first line.
    const std::string_view firstLine =
        text.substr(0, std::min(text.find_first_of(std::string_view("\r\n\0", 3)), std::size_t{40}));
    changes.push_back({"Options", "Home", std::string(firstLine)});

    const auto edited = editProfileText(text, changes);
    if (!edited) return 0;
    const std::string_view seen = visibleProfileText(*edited);
    const std::string_view before = visibleProfileText(text);
    for (const Key& key : kKeys) {
        std::optional<std::string> expected = findProfileValue(before, key.section, key.key);
        for (const ProfileChange& change : changes) {
            // Names match without regard to case.
            if (profile_text::sameName(change.section, key.section) &&
                profile_text::sameName(change.key, key.key))
                expected = change.value;
        }
        PICTROVE_FUZZ_CHECK(findProfileValue(seen, key.section, key.key) == expected);
    }
    PICTROVE_FUZZ_CHECK(findProfileValue(seen, "Options", "Home") == changes.back().value);
    return 0;
}
