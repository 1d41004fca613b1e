#include "arena.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>

#include "alloc.h"
#include "page_populator.h"

namespace pairhits {

namespace {
// Small tables stay small: the first regions are small.
constexpr std::size_t kFirstRegion = std::size_t{256} << 10;
// Regions double up to this size: few system calls on large tables, little
// address space on small ones.
constexpr std::size_t kLargestRegion = std::size_t{64} << 20;
// Regions from this size on start on a multiple of it, as they always have
// (the kernel's transparent huge pages, where it gives them unasked, need it).
constexpr std::size_t kLargeAlign = std::size_t{2} << 20;
// What the populator is asked for at a time: a run that ends leaves at most
// this much backed and unused.
constexpr std::size_t kPopulateStep = std::size_t{256} << 10;
}  // namespace

struct Arena::region {
  region* next;
  std::size_t bytes;
};

Arena::~Arena() {
  if (populator_ != nullptr) populator_->wait_idle();
  while (regions_ != nullptr) {
    region* next = regions_->next;
    mem_unmap(regions_, regions_->bytes);
    regions_ = next;
  }
}

bool Arena::grow(std::size_t at_least) {
  if (regions_ != nullptr) {
    // The rest of the current region will not be used: give back its pages.
    const auto unused = (reinterpret_cast<std::uintptr_t>(next_) + kPageBytes - 1) & ~std::uintptr_t{kPageBytes - 1};
    const auto end = reinterpret_cast<std::uintptr_t>(regions_) + regions_->bytes;
    if (end > unused) {
      // Not while the populator may still be backing part of it.
      if (populator_ != nullptr) populator_->wait_idle();
      ::madvise(reinterpret_cast<void*>(unused), end - unused, MADV_DONTNEED);
    }
  }
  next_region_bytes_ = next_region_bytes_ == 0 ? kFirstRegion : std::min(2 * next_region_bytes_, kLargestRegion);
  const std::size_t wanted = at_least + sizeof(region) + kPageBytes;
  const std::size_t unit = next_region_bytes_ < kLargeAlign ? kPageBytes : kLargeAlign;
  const std::size_t bytes = std::max(next_region_bytes_, (wanted + unit - 1) / unit * unit);
  void* p = mem_map(bytes, unit);
  if (p == nullptr) return false;
  auto* r = static_cast<region*>(p);
  r->next = regions_;
  r->bytes = bytes;
  regions_ = r;
  next_ = static_cast<char*>(p) + sizeof(region);
  room_ = bytes - sizeof(region);
  // The first step is for the run's own faults; the populator starts after it.
  populated_ = reinterpret_cast<std::uintptr_t>(p) + std::min(bytes, kPopulateStep);
  return true;
}

// Once the run comes within a quarter of a step of the memory asked for so
// far, the next step is asked for: the populator has that quarter's time to
// back it, and a run that ends there leaves that much backed and unused.
void Arena::populate_ahead() {
  const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(regions_) + regions_->bytes;
  if (populated_ >= end) return;
  const std::uintptr_t step = std::min<std::uintptr_t>(kPopulateStep, end - populated_);
  populator_->populate(reinterpret_cast<void*>(populated_), step);
  populated_ += step;
}

void* Arena::take(std::size_t bytes, std::size_t align) {
  std::size_t pad = (align - reinterpret_cast<std::uintptr_t>(next_) % align) % align;
  if (next_ == nullptr || pad + bytes > room_) {
    if (!grow(bytes + align)) return nullptr;
    pad = (align - reinterpret_cast<std::uintptr_t>(next_) % align) % align;
  }
  char* place = next_ + pad;
  next_ = place + bytes;
  room_ -= pad + bytes;
  if (populator_ != nullptr && reinterpret_cast<std::uintptr_t>(next_) + kPopulateStep / 4 >= populated_) {
    populate_ahead();
  }
  return place;
}

}  // namespace pairhits
