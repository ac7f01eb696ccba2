#include "memory_reuse.h"

#include <cstdlib>  // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace pictrove {

void keepFreedMemory() {
#if defined(__GLIBC__)
    // Free space is handed back only past 64 MiB, far above what a file's
    // icons keep in use at once; a scan of millions of files thus holds at
    // most that much more per thread than it needs, never more and more.
    constexpr int kKeepUpTo = 64 << 20;
    mallopt(M_TRIM_THRESHOLD, kKeepUpTo);
#endif
}

}  // namespace pictrove
