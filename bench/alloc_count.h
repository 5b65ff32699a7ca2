// Heap allocations made by one thread while it has counting switched on.
#pragma once

#include <cstdint>

namespace bench {

struct AllocationCount {
    std::uint64_t calls = 0;
    std::uint64_t bytes = 0;
};

// False where the benchmark is built without its allocation hook (under a sanitizer) or the
// hook does not see an allocation made to try it.
bool allocation_hook_active();

// Counts what the calling thread allocates until the matching stop.
void start_counting_allocations();
AllocationCount stop_counting_allocations();

}  // namespace bench
