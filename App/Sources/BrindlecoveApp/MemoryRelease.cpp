#include "BrindlecoveApp/MemoryRelease.hpp"

#include <cstdlib>
#include <cstring>

#ifdef __GLIBC__  // defined by the C library's headers above
#include <malloc.h>
#endif

namespace brindlecove {

void giveBackFreedMemory() {
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

void limitAllocationArenas() {
#ifdef __GLIBC__
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (std::getenv("MALLOC_ARENA_MAX") || (tunables && std::strstr(tunables, "arena_max"))) return;
    ::mallopt(M_ARENA_MAX, 4);
#endif
}

}  // namespace brindlecove
