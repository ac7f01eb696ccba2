// SVG icons, as Linux applications ship them: drawn by librsvg in a helper
// program of ours (pictrove-svg-draw, beside the modules), one drawing per
// run, under limits of processor time (for all of one file's runs) and of
// memory, so that a document made to take minutes or gigabytes stops
// there and says so. Where the build has no librsvg they are recognised
// and left out.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "byte_reader.h"
#include "image/image.h"

namespace pictrove {

// Whether the bytes look like an SVG document (an <svg element among the
// first bytes, after any XML declaration and comments).
bool isSvg(Bytes data);

// What became of a look at an SVG document or of its drawing.
struct SvgOutcome {
    enum class Status {
        done,        // read (and drawn, when asked)
        unreadable,  // no SVG document librsvg can read or draw
        overLimit,   // it took more processor time or memory than a drawing may
    };
    Status status = Status::unreadable;
    std::string why;             // what went wrong, when it did
    std::optional<Image> image;  // the drawing
};

// The processor time the helper's runs for one file may take together;
// shared by the file's pictures, which are drawn when first read, from
// whichever thread reads them.
inline constexpr std::int64_t kSvgCpuMicroseconds = 1'500'000;
struct SvgBudget {
    std::atomic<std::int64_t> microseconds{kSvgCpuMicroseconds};
};

// Whether librsvg reads `data` as an SVG document, without drawing it.
// Throws ModuleError when the build has the helper but it cannot be run.
SvgOutcome readSvg(Bytes data, SvgBudget& budget);

// The picture drawn to fit `side` x `side`, centred, transparent around it.
// Throws ModuleError as readSvg does.
SvgOutcome drawSvg(Bytes data, std::uint32_t side, SvgBudget& budget);

// The most memory one run of the helper may take.
inline constexpr std::uint64_t kSvgMemoryBytes = std::uint64_t{512} << 20;

// The work done in this process so far, for tests: helper runs that read a
// document, runs that drew one, and the pixels they were asked for.
struct SvgWork {
    std::size_t size = sizeof(SvgWork);  // the module and the program must agree
    std::uint64_t reads = 0;
    std::uint64_t draws = 0;
    std::uint64_t pixelsDrawn = 0;
};
// The entry of the AppImage module that gives its SvgWork (see
// module_loader.h); the figures are a copy taken at the call.
inline constexpr const char* kSvgWorkEntry = "pictrove_svg_work";
inline constexpr const char* kSvgHelper = "pictrove-svg-draw";

}  // namespace pictrove
