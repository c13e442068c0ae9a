#include "base/Heap.h"

#include <cstdlib>  // defines __GLIBC__ where the C library is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace host {

void keepFreedHeap() {
#if defined(__GLIBC__)
    // An editor refits a path on every edit, and a refit allocates and frees a few hundred
    // kilobytes of work arrays (n = 1,000). With glibc's default trim threshold (128 KiB) the
    // freed top of the heap goes back to the kernel after every refit and comes back page by page
    // on the next, which on this machine costs about as much as the refit itself. The program
    // keeps it instead. Setting the trim threshold also fixes glibc's threshold for serving a
    // block by its own mapping at 128 KiB: the studio's drawings, flights and answers (megabytes
    // at n = 10,000) would then be mapped afresh and faulted in page by page on every edit, so
    // blocks up to glibc's largest threshold (32 MiB) come from the kept heap too. A refit of a
    // million waypoints frees some 370 MB at once (its curves and work arrays): the heap keeps up
    // to 512 MiB free at its top, so that the next refit does not fault it all in again.
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
#endif
}

}  // namespace host
