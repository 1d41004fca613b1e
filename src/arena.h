// Arenas: memory that a run keeps to its end, handed out from large regions
// of fresh pages. Nothing is given back one piece at a time: all of it goes
// when the arena goes. A region is used from its start onwards, so what the
// run holds beyond its needs is at most the rest of the newest region, and
// that is given back to the system when the next region is taken.
//
// Given a page populator, the arena has the memory just ahead of what it
// hands out backed on the populator's thread: the run then seldom waits for
// the kernel to allocate and zero a page.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pairhits {

class PagePopulator;  // page_populator.h

class Arena {
 public:
  Arena() = default;
  ~Arena();
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // `bytes` of zero-filled memory aligned to `align` (a power of two up to
  // 4096), or null if memory ran out.
  void* take(std::size_t bytes, std::size_t align);

  // From now on, the memory just ahead of what take hands out is backed by
  // `populator`, which must outlive the arena.
  void populate_with(PagePopulator* populator) { populator_ = populator; }

 private:
  struct region;
  bool grow(std::size_t at_least);
  void populate_ahead();

  PagePopulator* populator_ = nullptr;
  region* regions_ = nullptr;     // newest first
  std::uintptr_t populated_ = 0;  // the current region is asked to be backed up to here
  char* next_ = nullptr;
  std::size_t room_ = 0;
  std::size_t next_region_bytes_ = 0;
};

}  // namespace pairhits
