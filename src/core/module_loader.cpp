#include "module_loader.h"

#ifndef _WIN32
#include <dlfcn.h>

#include <array>
#include <filesystem>
#include <system_error>
#include <vector>
#endif

namespace pictrove {

#ifdef _WIN32
const void* loadModuleTable(const char*, const char*, std::size_t) {
    return nullptr;  // the Windows build has its codecs built in and reads no packages
}
#else
// The modules lie beside the program, in the program folder when the
// program runs from bin/ or from a folder of the build, or in it seen from
// where the Python package is installed.
const void* loadModuleTable(const char* fileName, const char* entryName, std::size_t tableSize) {
    std::vector<std::filesystem::path> places;
    std::error_code error;
    if (auto program = std::filesystem::read_symlink("/proc/self/exe", error); !error)
        places.push_back(program.parent_path());
    if (Dl_info info{}; dladdr(reinterpret_cast<void*>(&loadModuleTable), &info) && info.dli_fname &&
                        info.dli_fname[0] == '/')
        places.push_back(std::filesystem::path(info.dli_fname).parent_path());
    constexpr std::array<const char*, 4> kFolders{".", "../lib/pictrove", "../../lib/pictrove",
                                                  "../../../pictrove"};
    for (const auto& place : places) {
        for (const char* folder : kFolders) {
            const auto module = place / folder / fileName;
            void* library = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!library) continue;
            const auto entry = reinterpret_cast<const void* (*)()>(dlsym(library, entryName));
            const void* table = entry ? entry() : nullptr;
            if (table && *static_cast<const std::size_t*>(table) == tableSize) return table;
            dlclose(library);  // a module of another build
        }
    }
    return nullptr;
}
#endif

}  // namespace pictrove
