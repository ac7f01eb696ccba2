// Costs of the icon engine on a large multi-size library (make_big_dll.sh):
// opening and counting, the 32 x 32 icon of every index, every decoder per
// depth, scaling and PNG encoding. The library is found through
// $PICTROVE_BIG_DLL, else where the build's big_dll target puts it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "icon_source/icon_file.h"
#include "image/dib.h"
#include "image/png.h"
#include "image/scale.h"

namespace pictrove {
namespace {

std::filesystem::path libraryPath() {
    if (const char* path = std::getenv("PICTROVE_BIG_DLL")) return path;
    return PICTROVE_BIG_DLL;
}

// Opened once: the benchmarks that are not about opening share it.
const IconFile& library() {
    static const IconFile file = [] {
        auto opened = IconFile::open(libraryPath());
        if (!opened || opened->count() == 0) {
            std::fprintf(stderr, "core_bench: %s holds no icons; build it with bench/make_big_dll.sh\n",
                         libraryPath().string().c_str());
            std::exit(1);
        }
        return std::move(*opened);
    }();
    return file;
}

// The first stored image of the given size and kind.
const IconImage& storedImage(std::uint32_t size, std::uint16_t bits, bool png) {
    const IconFile& file = library();
    for (std::size_t i = 0; i < file.count(); ++i) {
        for (const IconImage& image : file.group(i).images) {
            if (image.info.width == size && image.info.bits == bits && image.info.png == png) return image;
        }
    }
    std::fprintf(stderr, "core_bench: no %ux%ux%u image in the library\n", size, size, unsigned{bits});
    std::exit(1);
}

Image decoded(std::uint32_t size, std::uint16_t bits, bool png = false) {
    return *decodeImage(storedImage(size, bits, png));
}

void openAndCount(benchmark::State& state) {
    library();  // stops with a message when the library is missing
    for (auto _ : state) {
        auto file = IconFile::open(libraryPath());
        benchmark::DoNotOptimize(file->count());
    }
}
BENCHMARK(openAndCount)->Unit(benchmark::kMillisecond);

void deliverAllIcons(benchmark::State& state) {
    const IconFile& file = library();
    for (auto _ : state) {
        for (std::size_t i = 0; i < file.count(); ++i) benchmark::DoNotOptimize(file.icon(i));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(file.count()));
}
BENCHMARK(deliverAllIcons)->Unit(benchmark::kMillisecond);

void decodeAllImages(benchmark::State& state) {
    const IconFile& file = library();
    std::int64_t images = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < file.count(); ++i) {
            for (const IconImage& image : file.group(i).images) {
                benchmark::DoNotOptimize(decodeImage(image));
                ++images;
            }
        }
    }
    state.SetItemsProcessed(images);
}
BENCHMARK(decodeAllImages)->Unit(benchmark::kMillisecond);

void decodeDibOfDepth(benchmark::State& state) {
    const auto size = static_cast<std::uint32_t>(state.range(0));
    const IconImage& image = storedImage(size, static_cast<std::uint16_t>(state.range(1)), false);
    for (auto _ : state) benchmark::DoNotOptimize(decodeDib(image.data));
    state.SetItemsProcessed(state.iterations() * size * size);
}
BENCHMARK(decodeDibOfDepth)->ArgNames({"size", "bits"})->ArgsProduct({{32, 48}, {4, 8, 32}});

void decodePng256(benchmark::State& state) {
    const IconImage& image = storedImage(256, 32, true);
    for (auto _ : state) benchmark::DoNotOptimize(decodePng(image.data));
    state.SetItemsProcessed(state.iterations() * 256 * 256);
}
BENCHMARK(decodePng256)->Unit(benchmark::kMicrosecond);

void scaleTo32(benchmark::State& state) {
    const auto size = static_cast<std::uint32_t>(state.range(0));
    const Image source = decoded(size, 32, size == 256);
    for (auto _ : state) benchmark::DoNotOptimize(scaleArea(source, kIconSize, kIconSize));
    state.SetItemsProcessed(state.iterations() * size * size);
}
BENCHMARK(scaleTo32)->ArgName("from")->Arg(48)->Arg(256);

void encodePngOf(benchmark::State& state) {
    const auto size = static_cast<std::uint32_t>(state.range(0));
    const Image image = decoded(size, 32, size == 256);
    for (auto _ : state) benchmark::DoNotOptimize(encodePng(image));
    state.SetItemsProcessed(state.iterations() * size * size);
}
BENCHMARK(encodePngOf)->ArgName("size")->Arg(32)->Arg(256);

}  // namespace
}  // namespace pictrove

BENCHMARK_MAIN();
