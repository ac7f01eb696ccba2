// File masks: splitting a mask text and matching its segments against names.
// The input is a mask, a zero byte, and a name.
#include <algorithm>
#include <string_view>

#include "file_mask.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pictrove;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = std::min(input.find('\0'), input.size());
    const std::string_view mask = input.substr(0, split);
    const std::string_view name = split < input.size() ? input.substr(split + 1) : std::string_view();
    const SplitFileMask parts = splitFileMask(mask);
    matchesMask(parts.segments, name);
    for (const std::string& segment : parts.segments) matchesMaskSegment(segment, name);
    return 0;
}
