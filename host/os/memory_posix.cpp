// Memory on POSIX systems: with glibc, freed blocks of a few hundred kB (the
// directory of a large help file, the decoded intervals) stay in the heap for
// the next request instead of being unmapped and faulted in again.
#include "host/os/os.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void KeepFreedMemory()
{
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 32 << 20);
#endif
}
