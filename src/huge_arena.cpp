#include "huge_arena.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>

#include "alloc.h"

namespace pairhits {

namespace {
constexpr std::size_t kPage = 4096;
constexpr std::size_t kHugePage = std::size_t{2} << 20;  // x86-64's and most ARM64 kernels'
// Small tables stay small: the first regions are of plain pages.
constexpr std::size_t kFirstRegion = std::size_t{256} << 10;
// Regions double up to this size: few system calls on large tables, little
// address space on small ones.
constexpr std::size_t kLargestRegion = std::size_t{64} << 20;
}  // namespace

struct HugeArena::region {
  region* next;
  std::size_t bytes;
};

void advise_huge_pages(void* p, std::size_t bytes) {
#if defined(MADV_HUGEPAGE) && !defined(PAIRHITS_NO_HUGE_PAGES)
  // Only whole huge pages inside the block can be huge.
  const auto start = (reinterpret_cast<std::uintptr_t>(p) + kHugePage - 1) & ~(kHugePage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(kHugePage - 1);
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

HugeArena::~HugeArena() {
  while (regions_ != nullptr) {
    region* next = regions_->next;
    mem_unmap(regions_, regions_->bytes);
    regions_ = next;
  }
}

bool HugeArena::grow(std::size_t at_least) {
  if (regions_ != nullptr) {
    // The rest of the current region will not be used: give back its pages,
    // even those inside a huge page that is already backed (it is split).
    const auto unused = (reinterpret_cast<std::uintptr_t>(next_) + kPage - 1) & ~std::uintptr_t{kPage - 1};
    const auto end = reinterpret_cast<std::uintptr_t>(regions_) + regions_->bytes;
    if (end > unused) ::madvise(reinterpret_cast<void*>(unused), end - unused, MADV_DONTNEED);
  }
  next_region_bytes_ = next_region_bytes_ == 0 ? kFirstRegion : std::min(2 * next_region_bytes_, kLargestRegion);
  const std::size_t wanted = at_least + sizeof(region) + kPage;
  const std::size_t unit = next_region_bytes_ < kHugePage ? kPage : kHugePage;
  const std::size_t bytes = std::max(next_region_bytes_, (wanted + unit - 1) / unit * unit);
  void* p = mem_map(bytes, unit);
  if (p == nullptr) return false;
  if (bytes >= kHugePage) advise_huge_pages(p, bytes);
  auto* r = static_cast<region*>(p);
  r->next = regions_;
  r->bytes = bytes;
  regions_ = r;
  next_ = static_cast<char*>(p) + sizeof(region);
  room_ = bytes - sizeof(region);
  return true;
}

void* HugeArena::take(std::size_t bytes, std::size_t align) {
  std::size_t pad = (align - reinterpret_cast<std::uintptr_t>(next_) % align) % align;
  if (next_ == nullptr || pad + bytes > room_) {
    if (!grow(bytes + align)) return nullptr;
    pad = (align - reinterpret_cast<std::uintptr_t>(next_) % align) % align;
  }
  char* place = next_ + pad;
  next_ = place + bytes;
  room_ -= pad + bytes;
  return place;
}

}  // namespace pairhits
