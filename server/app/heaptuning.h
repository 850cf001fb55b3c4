#pragma once

#ifdef __GLIBC__
#include <malloc.h>
#endif

// Uploads pass through buffers of a few hundred KiB per connection. glibc
// gives freed memory back to the system whenever the top of the heap is
// free and faults it in again for the next arrival: a class uploading at
// once then ran at a fifth of a plain copy's speed. Keep it instead; what is
// kept is bounded by what the uploads need at their peak.
inline void keepFreedMemoryForUploads()
{
#ifdef __GLIBC__
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
#endif
}

// What the uploads' peak left free is given back to the system this often,
// so that a server running all day holds what it uses, not its busiest
// moment; seldom enough that the uploads keep their speed.
constexpr int GiveBackFreedMemoryEveryMs = 2 * 1000;

inline void giveBackFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}
