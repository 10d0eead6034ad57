#include <malloc.h>

#include "common/memory.h"

namespace palisard {

void ReleaseFreeMemory() { malloc_trim(0); }

void UseOneHeapForAllThreads() { mallopt(M_ARENA_MAX, 1); }

}  // namespace palisard
