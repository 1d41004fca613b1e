// Huge-page arenas: memory that a run keeps to its end, taken from large
// regions aligned to huge pages that the kernel is asked (madvise) to back
// with them. A 162 MB table otherwise costs some 20 000 page faults, one
// for every 4 KiB page the run touches.
//
// Memory is only ever handed out, never given back one piece at a time:
// all of it goes when the arena goes. A region is touched from its start
// onwards, so what the run holds beyond its needs is at most the rest of
// one huge page per arena. The advice is asked for only in builds that
// turn it on (PAIRHITS_HUGE_PAGES); otherwise, or where the system gives no
// huge pages, the regions are plain pages.
//
// Given a page populator, the arena has the memory just ahead of what it
// hands out backed on the populator's thread: the run then seldom waits for
// the kernel to allocate and zero a page.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pairhits {

class PagePopulator;  // page_populator.h

class HugeArena {
 public:
  HugeArena() = default;
  ~HugeArena();
  HugeArena(const HugeArena&) = delete;
  HugeArena& operator=(const HugeArena&) = delete;

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
  region* regions_ = nullptr;  // newest first
  std::uintptr_t populated_ = 0;  // the current region is asked to be backed up to here
  char* next_ = nullptr;
  std::size_t room_ = 0;
  std::size_t next_region_bytes_ = 0;
};

// Asks the kernel to back [p, p + bytes) with huge pages where it can; a
// hint, without effect where huge pages are not to be had.
void advise_huge_pages(void* p, std::size_t bytes);

}  // namespace pairhits
