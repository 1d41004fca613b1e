#include "read_index.h"

#include <cassert>
#include <climits>
#include <cstring>
#include <new>

#include "alloc.h"
#include "name_order.h"

namespace pairhits {
namespace {

// Sizes the node budget formula counts with, whatever this build's types are.
constexpr unsigned kHeaderWordBytes = 4;
constexpr unsigned kPointerBytes = 8;
constexpr unsigned kRecordBytes = 32;
constexpr unsigned kSmallestBudget = kHeaderWordBytes + kPointerBytes;

void set_header(index_node* x, bool internal, std::int32_t used) {
  x->header = (static_cast<std::uint32_t>(used) << 1) | (internal ? 1u : 0u);
}

std::int32_t max_records(const read_index* b) { return 2 * b->min_degree - 1; }

// How many leading bytes a name sought shares with the names that bound the
// subtree being searched, the greatest name below it and the least above.
// Every name in that subtree shares the smaller count with the name sought
// (the names between two that agree on k bytes agree on them too), so
// comparisons may skip those bytes.
struct bounds {
  std::size_t below = 0;
  std::size_t above = 0;
  std::size_t known() const { return below < above ? below : above; }
};

// Compares a stored name with the name sought, and narrows the bounds to
// the side of the stored name where the sought one lies.
template <typename Order>
int compare_within(bounds& near, const char* stored, const char* name) {
  std::size_t shared;
  const int order = Order::compare(stored, name, near.known(), shared);
  if (order < 0) {
    near.below = shared;
  } else {
    near.above = shared;
  }
  return order;
}

// Index of the last record whose name is at most `name` (-1 if none), and
// whether that record's name equals it. `near` is narrowed to the child
// that the index leads to.
template <typename Order>
std::int32_t search_node(index_node* x, const char* name, bool& match, bounds& near) {
  match = false;
  std::int32_t n = node_records_used(x);
  if (n == 0) return -1;
  const elem* rec = node_records(x);
  // The names live elsewhere in memory and the search reads several of them
  // one after the other: start fetching them all at once, from the first
  // word a comparison reads.
  const std::size_t first_read = Order::first_read(near.known());
  for (std::int32_t k = 0; k < n; ++k) __builtin_prefetch(rec[k].name + first_read);
  std::int32_t lo = 0;
  std::int32_t hi = n;
  bool hi_equal = false;  // whether record hi, once compared, equalled the name
  while (lo < hi) {
    std::int32_t mid = (lo + hi) >> 1;
    const int order = compare_within<Order>(near, rec[mid].name, name);
    if (order < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
      hi_equal = order == 0;
    }
  }
  if (lo == n) return n - 1;
  // Record lo is the first not less than the name. As lo < n, hi came down to
  // lo by a comparison with record lo, which hi_equal remembers: no second
  // comparison is needed to tell a match.
  if (hi_equal) {
    match = true;
    return lo;
  }
  return lo - 1;
}

// A zero-filled node from the tree's arena (whose memory is fresh, so zero).
index_node* new_node(read_index* b, bool internal) {
  const auto bytes = static_cast<std::size_t>(internal ? b->internal_bytes : b->leaf_bytes);
  auto* x = static_cast<index_node*>(b->nodes.take(bytes, alignof(elem)));
  if (x != nullptr) set_header(x, internal, 0);
  return x;
}

}  // namespace

read_index* kb_init_str(int node_budget) {
  if (node_budget < static_cast<int>(kSmallestBudget)) return nullptr;
  unsigned budget = static_cast<unsigned>(node_budget);
  unsigned t = ((budget - kHeaderWordBytes - kPointerBytes) / (kPointerBytes + kRecordBytes) + 1) / 2;
  if (t <= 1) return nullptr;

  std::size_t child_offset = kRecordOffset + (2 * std::size_t{t} - 1) * sizeof(elem);
  std::size_t internal_bytes = child_offset + 2 * std::size_t{t} * sizeof(index_node*);
  if (internal_bytes > INT_MAX) return nullptr;

  auto* raw = mem_calloc(1, sizeof(read_index));
  if (raw == nullptr) return nullptr;
  auto* b = new (raw) read_index{};
  b->min_degree = static_cast<std::int32_t>(t);
  b->child_offset = static_cast<std::int32_t>(child_offset);
  b->leaf_bytes = static_cast<std::int32_t>(child_offset);
  b->internal_bytes = static_cast<std::int32_t>(internal_bytes);
  b->total_records = 0;
  // The first root is a leaf allocated at the internal size.
  b->root = new_node(b, true);
  if (b->root == nullptr) {
    kb_free_str(b);
    return nullptr;
  }
  set_header(b->root, false, 0);
  return b;
}

namespace {

template <typename Order>
elem* find(read_index* b, const char* name) {
  index_node* x = b->root;
  bounds near;
  for (;;) {
    bool match = false;
    std::int32_t i = search_node<Order>(x, name, match, near);
    if (match) return &node_records(x)[i];
    if (!node_is_internal(x)) return nullptr;
    x = node_children(b, x)[i + 1];
  }
}

// One of the searches of a batch lookup: the binary search of search_node,
// level by level, taken one step per round.
struct batch_search {
  index_node* node;  // null once the search has ended
  std::int32_t lo;
  std::int32_t hi;
  std::int32_t mid;  // record being fetched for comparison, or -1
  bool hi_equal;
  bool entered;      // whether lo and hi are set up for node
  bounds near;       // carried from node to node
};

void enter_node(batch_search& q, index_node* x, std::size_t node_bytes) {
  q = {x, 0, 0, -1, false, false, q.near};
  const char* bytes = reinterpret_cast<const char*>(x);
  for (std::size_t offset = 0; offset < node_bytes; offset += 64) __builtin_prefetch(bytes + offset);
}

// Does one comparison (or sets up a node just entered) and prefetches what
// the search needs next. Returns false once the search has ended, with
// `found` set to the record or left null.
template <typename Order>
bool step(const read_index* b, batch_search& q, const char* name, elem*& found, std::size_t node_bytes) {
  const elem* rec = node_records(q.node);
  if (!q.entered) {
    q.entered = true;
    q.hi = node_records_used(q.node);
    if (node_is_internal(q.node)) __builtin_prefetch(node_children(b, q.node));
  } else if (q.mid >= 0) {
    const int order = compare_within<Order>(q.near, rec[q.mid].name, name);
    if (order < 0) {
      q.lo = q.mid + 1;
    } else {
      q.hi = q.mid;
      q.hi_equal = order == 0;
    }
  }
  if (q.lo < q.hi) {
    q.mid = (q.lo + q.hi) >> 1;
    __builtin_prefetch(rec[q.mid].name + Order::first_read(q.near.known()));
    return true;
  }
  // The node is searched: as in search_node, record lo matches if the last
  // comparison that set hi found it equal; otherwise go to child lo.
  if (q.lo < node_records_used(q.node) && q.hi_equal) {
    found = const_cast<elem*>(&rec[q.lo]);
  } else if (node_is_internal(q.node)) {
    enter_node(q, node_children(b, q.node)[q.lo], node_bytes);
    return true;
  }
  q.node = nullptr;
  return false;
}

template <typename Order>
void find_batch(read_index* b, const char* const* names, elem** found, int count) {
  // A round does one step of every search, so the rounds' cache misses
  // overlap while each search touches only what it compares.
  assert(count <= kFindBatch);
  batch_search s[kFindBatch];
  const std::size_t node_bytes = kRecordOffset + static_cast<std::size_t>(max_records(b)) * sizeof(elem);
  for (int k = 0; k < count; ++k) {
    s[k].near = bounds{};
    enter_node(s[k], b->root, node_bytes);
    found[k] = nullptr;
  }
  for (int active = count; active > 0;) {
    for (int k = 0; k < count; ++k) {
      if (s[k].node != nullptr && !step<Order>(b, s[k], names[k], found[k], node_bytes)) --active;
    }
  }
}

}  // namespace

elem* kb_find_str(read_index* b, const char* name) {
  return b->padded_names ? find<WordOrder>(b, name) : find<ByteOrder>(b, name);
}

void kb_find_batch_str(read_index* b, const char* const* names, elem** found, int count) {
  if (b->padded_names) {
    find_batch<WordOrder>(b, names, found, count);
  } else {
    find_batch<ByteOrder>(b, names, found, count);
  }
}

bool __kb_split_str(read_index* b, index_node* x, std::int32_t i, index_node* y) {
  const std::int32_t t = b->min_degree;
  const bool internal = node_is_internal(y);
  index_node* z = new_node(b, internal);
  if (z == nullptr) return false;

  elem* yr = node_records(y);
  std::memcpy(node_records(z), yr + t, static_cast<std::size_t>(t - 1) * sizeof(elem));
  if (internal) {
    std::memcpy(node_children(b, z), node_children(b, y) + t,
                static_cast<std::size_t>(t) * sizeof(index_node*));
  }
  set_header(z, internal, t - 1);
  set_header(y, internal, t - 1);

  const std::int32_t xn = node_records_used(x);
  index_node** xc = node_children(b, x);
  std::memmove(xc + i + 2, xc + i + 1, static_cast<std::size_t>(xn - i) * sizeof(index_node*));
  xc[i + 1] = z;
  elem* xr = node_records(x);
  std::memmove(xr + i + 1, xr + i, static_cast<std::size_t>(xn - i) * sizeof(elem));
  xr[i] = yr[t - 1];
  set_header(x, node_is_internal(x), xn + 1);
  return true;
}

namespace {
template <typename Order>
elem* insert(read_index* b, const elem& record) {
  if (b->total_records == INT32_MAX) return nullptr;
  const std::int32_t full = max_records(b);

  if (node_records_used(b->root) == full) {
    index_node* old_root = b->root;
    index_node* grown = new_node(b, true);
    if (grown == nullptr) return nullptr;
    node_children(b, grown)[0] = old_root;
    if (!__kb_split_str(b, grown, 0, old_root)) return nullptr;  // `grown` stays unused in the arena
    b->root = grown;
  }

  index_node* x = b->root;
  bool match = false;
  bounds near;
  while (node_is_internal(x)) {
    std::int32_t ci = search_node<Order>(x, record.name, match, near) + 1;
    index_node* child = node_children(b, x)[ci];
    if (node_records_used(child) == full) {
      if (!__kb_split_str(b, x, ci, child)) return nullptr;
      // The name moved up lies between the child's bounds: it becomes one of them.
      if (compare_within<Order>(near, node_records(x)[ci].name, record.name) < 0) ++ci;
    }
    x = node_children(b, x)[ci];
  }

  const std::int32_t n = node_records_used(x);
  const std::int32_t i = search_node<Order>(x, record.name, match, near);
  elem* rec = node_records(x);
  if (i != n - 1) {
    std::memmove(rec + i + 2, rec + i + 1, static_cast<std::size_t>(n - 1 - i) * sizeof(elem));
  }
  rec[i + 1] = record;
  set_header(x, node_is_internal(x), n + 1);
  ++b->total_records;
  return &rec[i + 1];
}
}  // namespace

elem* kb_insert_str(read_index* b, const elem& record) {
  return b->padded_names ? insert<WordOrder>(b, record) : insert<ByteOrder>(b, record);
}

void kb_walk_first_str(const read_index* b, kb_walk& w) {
  w.top = -1;
  if (b->total_records == 0) return;
  index_node* x = b->root;
  w.stack[++w.top] = {x, 0};
  while (node_is_internal(x)) {
    x = node_children(b, x)[0];
    assert(w.top + 1 < kb_walk::kDepth);
    w.stack[++w.top] = {x, 0};
  }
}

void kb_walk_seek_str(const read_index* b, const char* name, kb_walk& w) {
  w.top = -1;
  if (b->total_records == 0) return;
  index_node* x = b->root;
  bounds near;
  for (;;) {
    // The node's last record not above the name; the first not below is
    // that one if it matches, else the next.
    bool match = false;
    const std::int32_t first = search_node<ByteOrder>(x, name, match, near) + (match ? 0 : 1);
    assert(w.top + 1 < kb_walk::kDepth);
    w.stack[++w.top] = {x, first};
    if (match || !node_is_internal(x)) break;
    x = node_children(b, x)[first];
  }
  // Past a node's last record, the next is its parent's record above it.
  while (w.top >= 0 && w.stack[w.top].index == node_records_used(w.stack[w.top].node)) --w.top;
}

bool kb_walk_valid(const kb_walk& w) { return w.top >= 0; }

elem& kb_walk_record(const kb_walk& w) {
  const kb_walk::position& p = w.stack[w.top];
  return node_records(p.node)[p.index];
}

bool kb_walk_next_str(const read_index* b, kb_walk& w) {
  if (w.top < 0) return false;
  for (;;) {
    ++w.stack[w.top].index;
    for (;;) {
      kb_walk::position& p = w.stack[w.top];
      if (p.node == nullptr || p.index > node_records_used(p.node)) break;
      index_node* below = node_is_internal(p.node) ? node_children(b, p.node)[p.index] : nullptr;
      assert(w.top + 1 < kb_walk::kDepth);
      w.stack[++w.top] = {below, 0};
    }
    --w.top;
    if (w.top < 0) return false;
    const kb_walk::position& p = w.stack[w.top];
    if (p.node != nullptr && p.index < node_records_used(p.node)) return true;
  }
}

std::vector<const char*> kb_depth_names_str(const read_index* b, std::size_t wanted) {
  std::vector<index_node*> depth{b->root};
  std::size_t records = static_cast<std::size_t>(node_records_used(b->root));
  while (records < wanted && node_is_internal(depth.front())) {
    std::vector<index_node*> below;
    records = 0;
    for (index_node* x : depth) {
      index_node** children = node_children(b, x);
      for (std::int32_t i = 0; i <= node_records_used(x); ++i) {
        below.push_back(children[i]);
        records += static_cast<std::size_t>(node_records_used(children[i]));
      }
    }
    depth.swap(below);
  }
  std::vector<const char*> names;
  names.reserve(records);
  for (index_node* x : depth) {
    for (std::int32_t i = 0; i < node_records_used(x); ++i) names.push_back(node_records(x)[i].name);
  }
  return names;
}

void kb_free_str(read_index* b) {
  if (b == nullptr) return;
  b->~read_index();  // releases the node arena, and every node with it
  mem_free(b);
}

}  // namespace pairhits
