#include <malloc.h>

#include "cli/process_setup.h"

void PrepareProcess() {
    // One run makes one file and exits, so the heap need never shrink, and
    // it may as well hold large blocks too (up to the C library's ceiling):
    // the work Image then lies in the heap, and once the drawing is cut out
    // of it, the pages it touched serve libpng's and zlib's buffers. Fresh
    // pages would cost a page fault each, for a small symbol a twentieth of
    // the run. Only advice: a refusal changes nothing but the speed.
    constexpr int kHeapBlocksUpTo = 32 << 20;
    mallopt(M_MMAP_THRESHOLD, kHeapBlocksUpTo);
    mallopt(M_TRIM_THRESHOLD, kHeapBlocksUpTo);
}
