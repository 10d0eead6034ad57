#pragma once

namespace palisard {

// Hands freed heap memory back to the system (after a burst of connections
// has ended), so the resident set returns to its idle size.
void ReleaseFreeMemory();

// One heap for all threads: a connection burst then leaves no per-thread
// heaps holding memory behind. Call before any thread starts.
void UseOneHeapForAllThreads();

}  // namespace palisard
