// Fuzzes the read index against std::map. The first byte picks the node
// budget; then each operation is one byte, an opcode in its top two bits and
// a name length (1 to 4) in the next two, followed by the name's bytes (drawn
// from a small alphabet so that names repeat). The first byte's third bit
// has the tree compare names a word at a time; every name then carries 7
// readable bytes after its zero, which the comparison must not look at, and
// each letter is written 5 times, so that names differ and end anywhere in
// their first three words. Operations: insert if absent,
// look up, look up a batch of the next few names. After every step the tree
// must agree with the map; at the end the invariant checker must pass.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <string>

#include "index_invariants.h"
#include "read_index.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

struct Cursor {
  const std::uint8_t* data;
  std::size_t size;
  bool next(std::uint8_t& byte) {
    if (size == 0) return false;
    byte = *data++;
    --size;
    return true;
  }
  // Each byte drawn stands for `width` copies of its letter.
  std::string name(int length, std::size_t width) {
    std::string n;
    std::uint8_t b;
    for (int i = 0; i < length && next(b); ++i) n.append(width, "aAz\x80/1"[b % 6]);
    return n;
  }
};

// The name as the tree is given it: its zero, then 6 bytes that differ from
// name to name.
struct Padded {
  std::string text;
  explicit Padded(const std::string& name) : text(name) {
    static unsigned calls = 0;
    text += '\0';
    for (unsigned i = 0; i < 6; ++i) text += static_cast<char>('b' + (++calls + i) % 7);
  }
  const char* c_str() const { return text.c_str(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pairhits;
  Cursor in{data, size};
  std::uint8_t first = 0;
  in.next(first);
  const int budgets[] = {132, 212, 512, 1024};
  read_index* b = kb_init_str(budgets[first % 4]);
  check(b != nullptr);
  b->padded_names = (first & 4) != 0;
  const std::size_t width = b->padded_names ? 5 : 1;
  std::deque<std::string> names;  // stable storage for the records' names
  std::map<std::string, std::int32_t> model;

  std::uint8_t op;
  while (in.next(op)) {
    const int length = 1 + ((op >> 4) & 3);
    switch (op >> 6) {
      case 0:
      case 1: {  // insert if absent
        std::string n = in.name(length, width);
        if (model.count(n) != 0) break;
        names.push_back(Padded(n).text);
        const auto tag = static_cast<std::int32_t>(model.size());
        elem* placed = kb_insert_str(b, elem{names.back().c_str(), nullptr, nullptr, tag, 0});
        check(placed != nullptr && placed->n_hits1 == tag);
        model[n] = tag;
        break;
      }
      case 2: {  // look up
        std::string n = in.name(length, width);
        elem* found = kb_find_str(b, Padded(n).c_str());
        auto it = model.find(n);
        check(it == model.end() ? found == nullptr
                                : found != nullptr && found->name == n && found->n_hits1 == it->second);
        break;
      }
      default: {  // look up a batch
        std::string batch[kFindBatch];
        const char* wanted[kFindBatch];
        elem* found[kFindBatch];
        const int count = 1 + (op & 15);
        for (int k = 0; k < count; ++k) {
          batch[k] = Padded(in.name(1 + k % 4, width)).text;
          wanted[k] = batch[k].c_str();
        }
        kb_find_batch_str(b, wanted, found, count);
        for (int k = 0; k < count; ++k) check(found[k] == kb_find_str(b, wanted[k]));
        break;
      }
    }
    check(b->total_records == static_cast<std::int32_t>(model.size()));
  }
  check(check_invariants(b).empty());
  kb_walk w;
  auto it = model.begin();
  for (kb_walk_first_str(b, w); kb_walk_valid(w); kb_walk_next_str(b, w), ++it) {
    check(it != model.end() && kb_walk_record(w).name == it->first);
  }
  check(it == model.end());
  kb_free_str(b);
  return 0;
}
