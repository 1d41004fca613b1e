// The read table: the read index and the record memory of one run.
//
// Whatever way the run ends, every record's lists, every node and every
// string are released exactly once, when the table goes.
#pragma once

#include "blast_parser.h"
#include "page_populator.h"
#include "read_index.h"
#include "record_memory.h"

namespace pairhits {

// Calls visit(record) for every record in name order, calling touch(record)
// a few records earlier. Records lie in nodes in name order, but what they
// point to was allocated in the order the table named them: in a large,
// scattered table each record's strings and lists are cache misses, which
// touch can start early (prefetch) so that they overlap. Stops early when
// visit returns false, and then returns false.
template <typename Touch, typename Visit>
bool walk_ahead(const read_index* index, Touch touch, Visit visit) {
  constexpr int kAhead = 16;  // records in flight: enough to cover a miss
  kb_walk w;
  kb_walk ahead;
  kb_walk_first_str(index, ahead);
  for (int k = 0; k < kAhead && kb_walk_valid(ahead); ++k) {
    touch(kb_walk_record(ahead));
    kb_walk_next_str(index, ahead);
  }
  for (kb_walk_first_str(index, w); kb_walk_valid(w); kb_walk_next_str(index, w)) {
    if (kb_walk_valid(ahead)) {
      touch(kb_walk_record(ahead));
      kb_walk_next_str(index, ahead);
    }
    if (!visit(kb_walk_record(w))) return false;
  }
  return true;
}

// Calls pair(a, b) for each target that both mates of a record hit, in the
// order of mate 1's list: a is mate 1's hit, b mate 2's. Targets are
// distinct within a list, so each of mate 1's has one partner at most.
template <typename Pair>
void for_each_pair(const elem& r, Pair pair) {
  for (std::int32_t i = 0; i < r.n_hits1; ++i) {
    const std::int32_t j = find_target(r.hits2, r.n_hits2, r.hits1[i].target);
    if (j >= 0) pair(r.hits1[i], r.hits2[j]);
  }
}

inline void fetch_lists(const elem& r) {
  __builtin_prefetch(r.hits1);
  __builtin_prefetch(r.hits2);
}

class ReadTable {
 public:
  // The memory ahead is backed on a populator thread of the table's own,
  // or of `shared` (none if null), which must outlive the table.
  ReadTable();
  explicit ReadTable(PagePopulator* shared);
  ~ReadTable();
  ReadTable(const ReadTable&) = delete;
  ReadTable& operator=(const ReadTable&) = delete;

  bool ok() const { return index_ != nullptr; }
  read_index* index() const { return index_; }
  RecordMemory& memory() { return memory_; }

  // Says that every record's lists have been released (a completed report
  // does that), so the teardown need not visit the records again.
  void lists_released() { lists_released_ = true; }

 private:
  // Declared first, so that it outlives the arenas it serves.
  PagePopulator populator_;
  read_index* index_;
  RecordMemory memory_;
  bool lists_released_ = false;
};

}  // namespace pairhits
