// File masks as the file box takes them: a list of "*" and "?" patterns
// separated by ";", the last of which may carry a folder. Masks and names are
// compared byte for byte after lower-casing ASCII letters only, so a mask
// means the same on every machine whatever its locale.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pictrove {

struct SplitFileMask {
    // Lower-cased segments in the order written; empty ones are kept and never
    // match.
    std::vector<std::string> segments;
    // The folder part of the last segment (up to and including its last
    // separator), as written; empty when that segment names none.
    std::string folder;
};

// Splits a FileMask text at its ";". Each segment loses its folder part; only
// the last segment's folder is kept. A trailing ";" adds no segment. Nothing
// is trimmed: a blank after ";" belongs to the next segment.
SplitFileMask splitFileMask(std::string_view mask);

// Whether one lower-cased segment matches a lower-cased name. "?" stands for
// one character (a whole UTF-8 sequence) or, once the name has ended, for
// nothing. A "*" before the segment's first "." jumps to the name's first "."
// (what lies between that "*" and the "." is not looked at); any later "*",
// or one in a segment without ".", matches the rest.
bool matchesMaskSegment(std::string_view segment, std::string_view name);

// Whether any segment matches the lower-cased name.
bool matchesMask(const std::vector<std::string>& segments, std::string_view name);

}  // namespace pictrove
