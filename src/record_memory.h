// Record memory: everything the records of one run point to.
//
// Owns the read names, the kept targets and the hit lists of a run, and
// releases them all when it goes. Promises:
//   - strings and lists are packed into blocks from an arena, and
//     released only all together;
//   - a target's text is kept once however many hits name it, so two hits
//     name the same target exactly when their target pointers are equal;
//   - hit lists have room for a power of two of hits and grow by doubling;
//     a released list is kept for reuse by a list of the same room;
//   - a list with room for kIndexedRoom hits or more carries a hash table of
//     its targets, so finding a target in it takes constant time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "arena.h"

namespace pairhits {

struct hit;  // blast_parser.h

enum class add_result { added, duplicate, alloc_failed };

class RecordMemory {
 public:
  RecordMemory() = default;
  ~RecordMemory();
  RecordMemory(const RecordMemory&) = delete;
  RecordMemory& operator=(const RecordMemory&) = delete;

  // Backs the memory ahead on `populator`'s thread (arena.h).
  void populate_with(PagePopulator* populator) { arena_.populate_with(populator); }

  // A zero-terminated copy of `text`, or null if memory ran out; the 7
  // bytes after its zero may be read.
  const char* copy(std::string_view text);

  // The kept copy of a target's text, made on its first request; every
  // request for the same text returns the same pointer. `head` is the text's
  // first bytes up to 8 as a word (head_word), which the caller may have at
  // hand cheaply. Null if memory ran out. `text` holds no zero byte.
  const char* keep_target(std::string_view text, std::uint64_t head);

  // Files h, whose target is a kept text, at the end of the list of `count`
  // hits unless the list holds that target already; grows the list when
  // full. On alloc_failed the list is unchanged.
  add_result add(hit*& list, std::int32_t& count, const hit& h);

  // Releases a list that holds `count` hits; null lists are ignored.
  void release_list(hit* list, std::int32_t count);
  // Releases the list only if it is a heap block of its own: a list carved
  // from the blocks stays until the memory goes. It changes nothing of the
  // memory's, so threads may release lists of one memory at once.
  static void release_unpooled(hit* list, std::int32_t count);

 private:
  // Lists of up to 2^kPooledClasses hits are carved from the blocks; longer
  // ones are heap blocks of their own.
  static constexpr int kPooledClasses = 10;
  static std::size_t list_bytes(int capacity_class);
  hit* grow_list(hit* list, std::int32_t count);
  bool append(hit*& list, std::int32_t& count, const hit& h);

  struct region {
    char* next = nullptr;
    std::size_t room = 0;
  };
  void* carve(region& r, std::size_t bytes, std::size_t align);

  Arena arena_;  // every block
  std::size_t next_block_bytes_ = 4096;  // doubles up to a limit: small tables stay small
  region text_;
  region lists_;
  hit* free_lists_[kPooledClasses + 1] = {};  // released lists by capacity class

  // The kept targets: open addressing, at most half full.
  struct kept_target {
    const char* text;      // null: empty slot
    std::uint64_t head;    // the text's first 8 bytes (zero-padded): short texts compare in one step
    std::uint32_t hash;    // of the text; also places the slot
    std::uint32_t length;  // the text's length, or UINT32_MAX for that length or more
  };
  bool grow_targets();
  kept_target* targets_ = nullptr;
  std::size_t target_slots_ = 0;  // a power of two, or 0
  std::size_t target_count_ = 0;
};

// The position of `target`, a text kept by the run's RecordMemory, among the
// `count` hits of a list, or -1.
std::int32_t find_target(const hit* list, std::int32_t count, const char* target);

}  // namespace pairhits
