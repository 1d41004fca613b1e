// Every heap block of the program goes through these four functions, so that a
// test can make allocations fail on purpose and check that each failure path
// reports the error and releases everything it holds.
#pragma once

#include <cstddef>

namespace pairhits {

void* mem_alloc(std::size_t bytes);
void* mem_calloc(std::size_t count, std::size_t bytes);
void* mem_realloc(void* block, std::size_t bytes);
void mem_free(void* block);
// The page size that mem_map's sizes are multiples of.
inline constexpr std::size_t kPageBytes = 4096;

// Zero-filled pages, `bytes` (a multiple of kPageBytes) aligned to
// `align` (a power of two), straight from the system; null if they cannot be had.
void* mem_map(std::size_t bytes, std::size_t align);
void mem_unmap(void* pages, std::size_t bytes);

// Test hook: the next `successes` allocations succeed and every later one
// fails, as if memory had run out. A negative value (the default) means never.
void fail_allocations_after(long successes);

}  // namespace pairhits
