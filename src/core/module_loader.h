// Modules of the program's own, loaded the first time one is needed: each
// holds readers or codecs whose libraries would otherwise be loaded and bound
// at every start, whatever the command.
//
// A program looks for its modules in one folder only: the build's module
// folder when the program runs from inside the build that made it, else the
// folder the program (or the Python package's module) lies in, where an
// install puts them. A module is taken only when its stamp, read from the
// file before any of its code runs, names it and this build's version and
// layout, and when nobody but its owner (the user or root) can change it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace pictrove {

// A module the build made that cannot be used: not there, of another build,
// open to change by others, or lacking a library it needs. The message names
// the module's path and says why.
class ModuleError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The table that the entry `entryName` of the module `fileName` gives, whose
// size must be `tableSize`. Every entry is an extern "C" function taking
// nothing and giving its table as `const void*`, and every table starts with
// its own size as a std::size_t. The module stays loaded for the rest of the
// run; a failure is remembered, and every later call throws it again.
// Throws ModuleError.
const void* loadModuleTable(const char* fileName, const char* entryName, std::size_t tableSize);

// The folder modules are looked for in; throws ModuleError when the
// program cannot tell where it lies.
std::filesystem::path moduleFolder();

// The stamp a module of this build carries in its kModuleStampSection:
// its file name, the version and a digest of the headers its tables are
// declared in.
std::string moduleStamp(const char* fileName);
inline constexpr const char* kModuleStampSection = ".pictrove_stamp";

// The stamp the ELF file at `path` carries, read without loading it; empty
// when it has none or is no ELF file of this machine's kind.
std::string readModuleStamp(const std::filesystem::path& path);

}  // namespace pictrove
