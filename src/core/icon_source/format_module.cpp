// The entry of a reader's module: built once for each, with the reader it
// holds named by PICTROVE_FORMAT_READER.
#include "icon_source/format_module.h"
#include "module_loader.h"

namespace {

// A module the reader needs in turn that cannot be loaded is told to the
// program, whose error it becomes: an exception does not cross from one
// module's runtime into another's.
std::optional<std::vector<pictrove::IconGroup>> readNoting(const pictrove::FileView& file,
                                                           pictrove::MadeBytes& made, std::size_t groupLimit,
                                                           pictrove::ReadNotes& notes) {
    try {
        return pictrove::formats::PICTROVE_FORMAT_READER(file, made, groupLimit);
    } catch (const pictrove::ModuleError& error) {
        notes.unloaded = error.what();
        return std::nullopt;
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const void* pictrove_format_reader() {
    static const pictrove::FormatReader reader{sizeof(pictrove::FormatReader), readNoting};
    return &reader;
}
