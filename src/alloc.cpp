#include "alloc.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace pairhits {
namespace {
// Threads of one run allocate at once: the count is shared by all of them.
std::atomic<long> allocations_left{-1};

bool allocation_allowed() {
  long left = allocations_left.load(std::memory_order_relaxed);
  do {
    if (left < 0) return true;
    if (left == 0) return false;
  } while (!allocations_left.compare_exchange_weak(left, left - 1, std::memory_order_relaxed));
  return true;
}
}  // namespace

void* mem_alloc(std::size_t bytes) {
  return allocation_allowed() ? std::malloc(bytes) : nullptr;
}

void* mem_calloc(std::size_t count, std::size_t bytes) {
  return allocation_allowed() ? std::calloc(count, bytes) : nullptr;
}

void* mem_realloc(void* block, std::size_t bytes) {
  return allocation_allowed() ? std::realloc(block, bytes) : nullptr;
}

void mem_free(void* block) { std::free(block); }

void* mem_map(std::size_t bytes, std::size_t align) {
  if (!allocation_allowed()) return nullptr;
  // Map more than needed and give back the unaligned ends.
  const std::size_t mapped = bytes + align;
  void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(p);
  const auto aligned = (start + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1);
  if (aligned > start) ::munmap(p, aligned - start);
  const std::size_t tail = start + mapped - (aligned + bytes);
  if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + bytes), tail);
  return reinterpret_cast<void*>(aligned);
}

void mem_unmap(void* pages, std::size_t bytes) {
  if (pages != nullptr) ::munmap(pages, bytes);
}

void fail_allocations_after(long successes) { allocations_left = successes; }

}  // namespace pairhits
