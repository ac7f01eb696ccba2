#include "module_loader.h"

#ifndef _WIN32
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>
#include <vector>

#include "module_stamp.h"
#endif

namespace pictrove {

#ifdef _WIN32
// The Windows build has its codecs built in and reads no packages.
const void* loadModuleTable(const char* fileName, const char*, std::size_t) {
    throw ModuleError(std::string("this build loads no modules, such as ") + fileName);
}

std::filesystem::path moduleFolder() {
    throw ModuleError("this build loads no modules");
}

std::string moduleStamp(const char* fileName) {
    return fileName;
}

std::string readModuleStamp(const std::filesystem::path&) {
    return {};
}
#else
namespace {

[[noreturn]] void refuse(const std::filesystem::path& module, const std::string& why) {
    throw ModuleError("cannot load module " + module.string() + ": " + why);
}

// The file the code of this function lies in: the Python package's module,
// a module of ours, or the program itself.
std::filesystem::path ownBinary() {
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(reinterpret_cast<void*>(&ownBinary), &info, reinterpret_cast<void**>(&map),
                RTLD_DL_LINKMAP) &&
        map && map->l_name && map->l_name[0] == '/')
        return map->l_name;
    // The program: /proc tells where it lies, else the name it was started
    // by when that is a whole path.
    std::error_code error;
    if (auto program = std::filesystem::read_symlink("/proc/self/exe", error); !error) return program;
    if (const auto* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
        started && started[0] == '/')
        return started;
    throw ModuleError(
        "cannot tell which folder the program lies in, to load its modules from (is /proc mounted?)");
}

bool readAt(int fd, void* into, std::size_t length, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    auto* out = static_cast<char*>(into);
    while (length > 0) {
        const ssize_t got = pread(fd, out, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        length -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

std::string stampOf(int fd) {
    using Header = ElfW(Ehdr);
    using Section = ElfW(Shdr);
    constexpr unsigned char kClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
    constexpr std::size_t kMostSections = 4096;
    constexpr std::size_t kLongestNames = 64 * 1024;
    constexpr std::size_t kLongestStamp = 512;
    Header header{};
    if (!readAt(fd, &header, sizeof header, 0) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != kClass || header.e_shentsize != sizeof(Section) || header.e_shnum == 0 ||
        header.e_shnum > kMostSections || header.e_shstrndx >= header.e_shnum)
        return {};
    std::vector<Section> sections(header.e_shnum);
    if (!readAt(fd, sections.data(), sections.size() * sizeof(Section), header.e_shoff)) return {};
    const Section& names = sections[header.e_shstrndx];
    if (names.sh_size == 0 || names.sh_size > kLongestNames) return {};
    std::string nameTable(names.sh_size, '\0');
    if (!readAt(fd, nameTable.data(), nameTable.size(), names.sh_offset)) return {};
    const std::string_view wanted = kModuleStampSection;
    for (const Section& section : sections) {
        if (section.sh_name >= nameTable.size() || section.sh_type != SHT_PROGBITS) continue;
        if (std::string_view(nameTable.c_str() + section.sh_name) != wanted) continue;
        if (section.sh_size == 0 || section.sh_size > kLongestStamp) return {};
        std::string stamp(section.sh_size, '\0');
        if (!readAt(fd, stamp.data(), stamp.size(), section.sh_offset)) return {};
        return stamp.substr(0, stamp.find('\0'));
    }
    return {};
}

const void* load(const char* fileName, const char* entryName, std::size_t tableSize) {
    const auto module = moduleFolder() / fileName;
    struct stat status {};
    if (stat(module.c_str(), &status) != 0) refuse(module, std::strerror(errno));
    if (!S_ISREG(status.st_mode)) refuse(module, "not a regular file");
    if (status.st_uid != 0 && status.st_uid != geteuid()) refuse(module, "it belongs to another user");
    if (status.st_mode & S_IWOTH) refuse(module, "every user may change it");
    if (readModuleStamp(module) != moduleStamp(fileName))
        refuse(module, "it is no module of this build of Pictrove (" PICTROVE_MODULE_VERSION "), which " +
                           ownBinary().string() + " belongs to");
    void* library = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        refuse(module, why ? why : "the system cannot load it");
    }
    const auto entry = reinterpret_cast<const void* (*)()>(dlsym(library, entryName));
    const void* table = entry ? entry() : nullptr;
    if (table && *static_cast<const std::size_t*>(table) == tableSize) return table;
    dlclose(library);
    refuse(module, std::string("it has no table ") + entryName + " of this build");
}

}  // namespace

std::filesystem::path moduleFolder() {
    auto binary = ownBinary();
    std::error_code error;
    if (auto real = std::filesystem::canonical(binary, error); !error) binary = std::move(real);
    // Run from inside the build that made it: that build's module folder.
    const std::string built = PICTROVE_BUILD_DIR "/";
    if (binary.string().starts_with(built)) return PICTROVE_BUILD_MODULE_DIR;
    return binary.parent_path();
}

std::string moduleStamp(const char* fileName) {
    return std::string("pictrove module ") + fileName +
           " " PICTROVE_MODULE_VERSION " " PICTROVE_MODULE_LAYOUT;
}

std::string readModuleStamp(const std::filesystem::path& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string stamp = stampOf(fd);
    close(fd);
    return stamp;
}

const void* loadModuleTable(const char* fileName, const char* entryName, std::size_t tableSize) {
    struct Outcome {
        const void* table = nullptr;
        std::string error;
    };
    static std::mutex mutex;
    static std::map<std::string, Outcome, std::less<> > loaded;
    const std::lock_guard lock(mutex);
    auto [found, first] = loaded.try_emplace(std::string(fileName) + '\0' + entryName);
    if (first) {
        try {
            found->second.table = load(fileName, entryName, tableSize);
        } catch (const ModuleError& error) {
            found->second.error = error.what();
        }
    }
    if (!found->second.table) throw ModuleError(found->second.error);
    return found->second.table;
}
#endif

}  // namespace pictrove
