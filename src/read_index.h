// Read index: a B-tree of `elem` records stored by value in its nodes,
// ordered by `name` under strcmp, i.e. byte-wise as unsigned values.
//
// The minimum degree t is derived from a node budget in bytes (the program
// uses 512, which gives t = 6). Node shape:
//
//   index_node (one zero-filled heap block)
//     header word   bit 0: internal; bits 1..31: n_records
//     records       2t - 1 slots of elem, from kRecordOffset
//     children      2t node pointers, from child_offset; internal nodes only
//
// A leaf is allocated at leaf_bytes and has no child area; an internal node,
// and the first root (a leaf that may later become internal only through a
// root split, never in place), at internal_bytes.
//
// Invariants, checked after every test that builds a tree:
//   - every node but the root holds t - 1 .. 2t - 1 records; the root 0 .. 2t - 1;
//   - an internal node with k records has k + 1 non-null children;
//   - names within a node ascend strictly; every name in child i sorts after
//     record i - 1 and before record i of its parent;
//   - all leaves lie at the same depth;
//   - total_records is the number of records in all nodes.
// Names are unique: the caller inserts only a name that a lookup did not find.
//
// elem is trivially copyable, so records move between slots by memmove. The
// tree never reads a record's hit lists; releasing them is the caller's job.
//
// Insertion splits full nodes on the way down (no second pass, no recursion);
// the walk uses a fixed stack of 64 positions; teardown releases the node
// arena, and with it every node, at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "arena.h"
#include "blast_parser.h"

namespace pairhits {

struct index_node {
  std::uint32_t header;
};

struct read_index {
  index_node* root;
  std::int32_t min_degree;
  std::int32_t leaf_bytes;
  std::int32_t internal_bytes;
  std::int32_t child_offset;
  std::int32_t total_records;
  // Set by the owner when every name the tree is given or holds, stored or
  // looked up, has 7 readable bytes after its terminating zero: names are
  // then compared a word at a time (name_order.h), in the same order.
  bool padded_names = false;
  // Where the nodes come from: nodes are never released one by one before
  // the teardown, so they are packed into an arena, which the
  // teardown releases whole.
  Arena nodes;
};

// Record slots start at the first elem-aligned offset after the header word.
inline constexpr std::size_t kRecordOffset =
    (sizeof(std::uint32_t) + alignof(elem) - 1) / alignof(elem) * alignof(elem);

inline bool node_is_internal(const index_node* x) { return (x->header & 1u) != 0; }
inline std::int32_t node_records_used(const index_node* x) {
  return static_cast<std::int32_t>(x->header >> 1);
}
inline elem* node_records(index_node* x) {
  return reinterpret_cast<elem*>(reinterpret_cast<char*>(x) + kRecordOffset);
}
inline index_node** node_children(const read_index* b, index_node* x) {
  return reinterpret_cast<index_node**>(reinterpret_cast<char*>(x) + b->child_offset);
}

// Returns none when the budget gives t <= 1 or an allocation fails.
read_index* kb_init_str(int node_budget);

// The stored record with this name, or none. The reference is valid until the
// next insertion; the caller may change the record's lists but not its name.
elem* kb_find_str(read_index* b, const char* name);

// Looks up `count` names at once (at most kFindBatch): found[k] is what
// kb_find_str(b, names[k]) returns. The searches go down the tree in
// lockstep, so that their cache misses overlap instead of queueing.
inline constexpr int kFindBatch = 32;
void kb_find_batch_str(read_index* b, const char* const* names, elem** found, int count);

// Copies the record into the tree; its name must be absent. Returns where the
// record now lives (valid until the next insertion), or none, with the tree
// unchanged in content and still valid, if a node could not be allocated or
// the tree already holds INT32_MAX records.
elem* kb_insert_str(read_index* b, const elem& record);

// Splits the full child y, child i of x, around its median, which moves up
// into x. Returns false, changing nothing, if the new node cannot be allocated.
bool __kb_split_str(read_index* b, index_node* x, std::int32_t i, index_node* y);

struct kb_walk {
  struct position {
    index_node* node;  // null for the transient position below a leaf
    std::int32_t index;
  };
  static constexpr int kDepth = 64;
  position stack[kDepth];
  int top;  // the current top position; -1 once the walk has ended
};

void kb_walk_first_str(const read_index* b, kb_walk& w);
// Starts the walk at the first record whose name is not below `name` under
// strcmp; the walk is over at once if there is none.
void kb_walk_seek_str(const read_index* b, const char* name, kb_walk& w);
bool kb_walk_valid(const kb_walk& w);
elem& kb_walk_record(const kb_walk& w);
bool kb_walk_next_str(const read_index* b, kb_walk& w);

// The names of the records at one depth of the tree, in name order: the
// shallowest depth with at least `wanted` records, or the leaves. They cut
// the tree's names into stretches of similar size.
std::vector<const char*> kb_depth_names_str(const read_index* b, std::size_t wanted);

// Releases every node, then the header. Records' lists are not touched.
void kb_free_str(read_index* b);

}  // namespace pairhits
