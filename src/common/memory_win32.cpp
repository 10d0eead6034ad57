#include <windows.h>

#include "common/memory.h"

namespace palisard {

void ReleaseFreeMemory() { HeapCompact(GetProcessHeap(), 0); }

// The process heap is already shared by all threads.
void UseOneHeapForAllThreads() {}

}  // namespace palisard
