#pragma once
// Counts heap allocations made by the current thread while counting is switched on.
// The program's global operator new is replaced in allocation_counter.cpp; the
// switch is thread-local, so only the thread under test (the audio thread in the
// device test) is watched.
#include <cstdint>

namespace morvane::test {

void SetCountAllocations(bool on);
uint64_t CountedAllocations();  // all threads, since the start
void ResetCountedAllocations();

// Counts allocations on this thread for its lifetime.
struct CountAllocationsHere {
    CountAllocationsHere() { SetCountAllocations(true); }
    ~CountAllocationsHere() { SetCountAllocations(false); }
};

}  // namespace morvane::test
