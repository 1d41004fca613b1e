// Test-only checker of the read index's structural invariants.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "read_index.h"

namespace pairhits {

// Returns an empty string if the tree is sound, else what is wrong first.
// Checks node fill, order within and across nodes, child pointers, equal leaf
// depth, total_records and that the walk yields every name once, ascending.
inline std::string check_invariants(const read_index* b) {
  const std::int32_t t = b->min_degree;
  struct item {
    index_node* node;
    int depth;
    const char* low;   // every name must sort after this (null: no bound)
    const char* high;  // and before this
  };
  std::vector<item> todo{{b->root, 0, nullptr, nullptr}};
  int leaf_depth = -1;
  long long counted = 0;
  while (!todo.empty()) {
    item it = todo.back();
    todo.pop_back();
    index_node* x = it.node;
    const std::int32_t n = node_records_used(x);
    if (x != b->root && (n < t - 1 || n > 2 * t - 1)) {
      return "node at depth " + std::to_string(it.depth) + " holds " + std::to_string(n) + " records";
    }
    if (x == b->root && n > 2 * t - 1) return "root overfull";
    counted += n;
    const elem* rec = node_records(x);
    for (std::int32_t i = 0; i < n; ++i) {
      if (rec[i].name == nullptr) return "record without a name";
      if (i > 0 && std::strcmp(rec[i - 1].name, rec[i].name) >= 0) return "records out of order in a node";
      if (it.low != nullptr && std::strcmp(it.low, rec[i].name) >= 0) return "record below its subtree's bound";
      if (it.high != nullptr && std::strcmp(rec[i].name, it.high) >= 0) return "record above its subtree's bound";
    }
    if (!node_is_internal(x)) {
      if (leaf_depth == -1) leaf_depth = it.depth;
      if (leaf_depth != it.depth) return "leaves at different depths";
      continue;
    }
    if (n == 0) return "internal node without records";
    index_node** child = node_children(b, x);
    for (std::int32_t c = 0; c <= n; ++c) {
      if (child[c] == nullptr) return "missing child";
      todo.push_back({child[c], it.depth + 1, c == 0 ? it.low : rec[c - 1].name,
                      c == n ? it.high : rec[c].name});
    }
  }
  if (counted != b->total_records) return "total_records is not the number of records";

  long long walked = 0;
  const char* previous = nullptr;
  kb_walk w;
  for (kb_walk_first_str(b, w); kb_walk_valid(w); kb_walk_next_str(b, w)) {
    const char* name = kb_walk_record(w).name;
    if (previous != nullptr && std::strcmp(previous, name) >= 0) return "walk out of order";
    previous = name;
    ++walked;
  }
  if (walked != counted) return "walk does not visit every record once";
  return {};
}

}  // namespace pairhits
