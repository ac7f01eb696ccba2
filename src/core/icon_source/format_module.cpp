// The entry of a reader's module: built once for each, with the reader it
// holds named by PICTROVE_FORMAT_READER.
#include "icon_source/format_module.h"

extern "C" __attribute__((visibility("default"))) const void* pictrove_format_reader() {
    static const pictrove::FormatReader reader{sizeof(pictrove::FormatReader),
                                               pictrove::formats::PICTROVE_FORMAT_READER};
    return &reader;
}
