// Modules of the program's own, loaded from beside it the first time one is
// needed: each holds readers or codecs whose libraries would otherwise be
// loaded and bound at every start, whatever the command.
#pragma once

#include <cstddef>

namespace pictrove {

// The table that the entry `entryName` of the module `fileName` gives, when
// the module is found and its table is `tableSize` bytes; null otherwise.
// Every entry is an extern "C" function taking nothing and giving its table
// as `const void*`, and every table starts with its own size as a
// std::size_t, so a module of another build is passed over. The module
// stays loaded for the rest of the run.
const void* loadModuleTable(const char* fileName, const char* entryName, std::size_t tableSize);

}  // namespace pictrove
