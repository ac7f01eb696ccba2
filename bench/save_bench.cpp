// What a durable save costs: a 766-byte icon file (what "Save Icon as"
// writes) replaced again and again, deferred (the command-line tool's
// saves) against flushed (the window's and the configurator's), in a
// memory file system and on the disk. The folders come from
// $PICTROVE_SAVE_BENCH_DIRS ("name=folder,..."), else /dev/shm as "tmpfs"
// and the build folder as "disk".
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "save_file.h"

namespace pictrove {
namespace {

void replaceIcon(benchmark::State& state, const std::filesystem::path& folder, Durability durability) {
    const std::vector<std::uint8_t> icon(766, 0x5A);
    const auto target = folder / "save_bench.ico";
    for (auto _ : state) {
        if (const auto error = saveFile(target, icon, {.durability = durability})) {
            state.SkipWithError(error->message.c_str());
            break;
        }
    }
    std::error_code ignored;
    std::filesystem::remove(target, ignored);
}

std::vector<std::pair<std::string, std::filesystem::path>> folders() {
    std::vector<std::pair<std::string, std::filesystem::path>> found;
    const char* listed = std::getenv("PICTROVE_SAVE_BENCH_DIRS");
    std::string list = listed ? listed : "tmpfs=/dev/shm,disk=" PICTROVE_BENCH_DISK_DIR;
    for (std::size_t start = 0; start < list.size();) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, end - start);
        if (const std::size_t equals = item.find('='); equals != std::string::npos)
            found.emplace_back(item.substr(0, equals), item.substr(equals + 1));
        start = end + 1;
    }
    return found;
}

}  // namespace
}  // namespace pictrove

int main(int argc, char** argv) {
    using pictrove::Durability;
    for (const auto& [name, folder] : pictrove::folders()) {
        if (!std::filesystem::is_directory(folder)) {
            std::fprintf(stderr, "save_bench: no folder %s for %s\n", folder.string().c_str(), name.c_str());
            continue;
        }
        for (const auto& [label, durability] :
             {std::pair{"deferred", Durability::deferred}, std::pair{"flushed", Durability::flushed}}) {
            benchmark::RegisterBenchmark(("save_766_bytes/" + name + "/" + label).c_str(),
                                         pictrove::replaceIcon, folder, durability)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
