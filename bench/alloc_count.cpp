#include "bench/alloc_count.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>

#ifndef TRAVO_BENCH_NO_MALLOC_HOOK

// glibc's own entry points, so that the replacements below can forward to the real allocator.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}

namespace {

// Constant-initialised, so that reading it inside malloc can never allocate.
thread_local bool counting = false;
thread_local bench::AllocationCount counted{};

inline void note(std::size_t size) {
    if (!counting) return;
    ++counted.calls;
    counted.bytes += size;
}

}  // namespace

// Replacing the C allocator catches operator new, the C library and the stream classes alike.
extern "C" {

void* malloc(std::size_t size) {
    note(size);
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
    note(count * size);
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size) {
    note(size);
    return __libc_realloc(pointer, size);
}

void* memalign(std::size_t alignment, std::size_t size) {
    note(size);
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
    note(size);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    note(size);
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) return ENOMEM;
    *result = p;
    return 0;
}

void free(void* pointer) {
    __libc_free(pointer);
}

}  // extern "C"

namespace bench {

bool allocation_hook_active() {
    // A hook that missed this would make every zero meaningless.
    void* (*volatile allocate)(std::size_t) = std::malloc;
    start_counting_allocations();
    std::free(allocate(24));
    return stop_counting_allocations().calls == 1;
}

void start_counting_allocations() {
    counted = {};
    counting = true;
}

AllocationCount stop_counting_allocations() {
    counting = false;
    return counted;
}

}  // namespace bench

#else

namespace bench {

bool allocation_hook_active() {
    return false;
}
void start_counting_allocations() {}
AllocationCount stop_counting_allocations() {
    return {};
}

}  // namespace bench

#endif
