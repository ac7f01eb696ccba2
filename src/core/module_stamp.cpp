// The stamp of a module, read by the loader from the file before the module
// is loaded (module_loader.h); PICTROVE_MODULE_FILE names the module.
#include "module_stamp.h"

extern "C" __attribute__((used, section(".pictrove_stamp"))) const char pictrove_module_stamp[] =
    "pictrove module " PICTROVE_MODULE_FILE " " PICTROVE_MODULE_VERSION " " PICTROVE_MODULE_LAYOUT;
