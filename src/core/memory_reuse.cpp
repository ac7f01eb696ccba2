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
    // Fixing the trim threshold also fixes the size from which blocks get
    // pages of their own, each mapped when taken and unmapped when freed,
    // at 128 KiB: a small file's bytes or a 256 px picture would go through
    // the system every time. Blocks up to a 1024 px picture come from the
    // heap; larger ones are rare.
    constexpr int kOwnPagesFrom = 4 << 20;
    mallopt(M_MMAP_THRESHOLD, kOwnPagesFrom);
#endif
}

}  // namespace pictrove
