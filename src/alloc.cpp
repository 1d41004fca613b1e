#include "alloc.h"

#include <cstdlib>

namespace pairhits {
namespace {
long allocations_left = -1;

bool allocation_allowed() {
  if (allocations_left < 0) return true;
  if (allocations_left == 0) return false;
  --allocations_left;
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

void fail_allocations_after(long successes) { allocations_left = successes; }

}  // namespace pairhits
