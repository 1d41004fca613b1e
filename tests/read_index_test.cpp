#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "alloc.h"
#include "index_invariants.h"
#include "name_order.h"
#include "read_index.h"

namespace pairhits {
namespace {

// The name, its zero and 6 bytes that change from call to call (with the
// string's own zero, 7 readable bytes past the name's end): a comparison
// that looks past a name's end sees them.
std::string with_padding(std::string name) {
  static unsigned calls = 0;
  ++calls;
  name += '\0';
  for (unsigned i = 0; i < 6; ++i) name += static_cast<char>('a' + (calls + i) % 26);
  return name;
}

// Owns a tree and the names its records point to. A tree of padded names
// compares them a word at a time: its names, and those it is asked for,
// carry the 7 readable bytes that takes.
class Tree {
 public:
  explicit Tree(int budget = 512, bool padded = false) : b_(kb_init_str(budget)) {
    if (b_ != nullptr) b_->padded_names = padded;
  }
  ~Tree() { kb_free_str(b_); }
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  read_index* get() const { return b_; }

  bool insert(const std::string& name, std::int32_t tag = 0) {
    names_.push_back(with_padding(name));
    elem r{names_.back().c_str(), nullptr, nullptr, tag, 0};
    elem* placed = kb_insert_str(b_, r);
    if (placed != nullptr) {
      EXPECT_EQ(placed->name, r.name);
      EXPECT_EQ(placed->n_hits1, tag);
    }
    return placed != nullptr;
  }

  elem* find(const std::string& name) const { return kb_find_str(b_, with_padding(name).c_str()); }

  std::vector<std::string> walk() const {
    std::vector<std::string> out;
    kb_walk w;
    for (kb_walk_first_str(b_, w); kb_walk_valid(w); kb_walk_next_str(b_, w)) {
      out.emplace_back(kb_walk_record(w).name);
    }
    return out;
  }

 private:
  read_index* b_;
  std::deque<std::string> names_;  // stable addresses
};

std::vector<std::string> node_names(index_node* x) {
  std::vector<std::string> out;
  for (std::int32_t i = 0; i < node_records_used(x); ++i) out.emplace_back(node_records(x)[i].name);
  return out;
}

std::string key(int i) {
  char text[16];
  std::snprintf(text, sizeof text, "r%06d", i);
  return text;
}

TEST(ReadIndex, BudgetGivesMinimumDegree) {
  struct row {
    int budget;
    int t;  // 0: no index
  };
  for (row r : {row{-1, 0}, row{0, 0}, row{11, 0}, row{12, 0}, row{131, 0}, row{132, 2}, row{211, 2},
                row{212, 3}, row{512, 6}, row{4096, 51}}) {
    read_index* b = kb_init_str(r.budget);
    if (r.t == 0) {
      EXPECT_EQ(b, nullptr) << "budget " << r.budget;
      continue;
    }
    ASSERT_NE(b, nullptr) << "budget " << r.budget;
    EXPECT_EQ(b->min_degree, r.t) << "budget " << r.budget;
    EXPECT_EQ(b->leaf_bytes, b->child_offset) << "leaves carry no child area";
    EXPECT_EQ(b->internal_bytes - b->child_offset, static_cast<int>(2 * r.t * sizeof(void*)));
    EXPECT_GE(b->child_offset, static_cast<int>(kRecordOffset + (2 * r.t - 1) * sizeof(elem)));
    EXPECT_EQ(b->total_records, 0);
    EXPECT_FALSE(node_is_internal(b->root));
    kb_free_str(b);
  }
}

TEST(ReadIndex, EmptyTreeWalksNothing) {
  Tree tree;
  EXPECT_TRUE(tree.walk().empty());
  kb_walk w;
  kb_walk_first_str(tree.get(), w);
  EXPECT_FALSE(kb_walk_valid(w));
  EXPECT_FALSE(kb_walk_next_str(tree.get(), w));
  EXPECT_EQ(kb_find_str(tree.get(), "x"), nullptr);
}

TEST(ReadIndex, TwelfthInsertSplitsTheRoot) {
  Tree tree;
  // Eleven names in scrambled order fill the root leaf exactly.
  const std::vector<int> first{7, 2, 10, 0, 5, 9, 1, 3, 8, 6, 4};
  for (int i : first) ASSERT_TRUE(tree.insert(key(i * 10)));
  ASSERT_FALSE(node_is_internal(tree.get()->root));
  EXPECT_EQ(node_records_used(tree.get()->root), 11);

  ASSERT_TRUE(tree.insert(key(95)));  // lands in the right half
  index_node* root = tree.get()->root;
  ASSERT_TRUE(node_is_internal(root));
  EXPECT_EQ(node_names(root), std::vector<std::string>{key(50)});
  index_node** child = node_children(tree.get(), root);
  EXPECT_EQ(node_names(child[0]), (std::vector<std::string>{key(0), key(10), key(20), key(30), key(40)}));
  EXPECT_EQ(node_names(child[1]),
            (std::vector<std::string>{key(60), key(70), key(80), key(90), key(95), key(100)}));
  EXPECT_EQ(check_invariants(tree.get()), "");
}

TEST(ReadIndex, OrdersByUnsignedBytes) {
  for (bool padded : {false, true}) {
    Tree tree(512, padded);
    const std::vector<std::string> names{"r9", "r10", "r1", "R1", "r", "\xc3\xa9", "~", "r1\x80", "a b"};
    for (const auto& n : names) ASSERT_TRUE(tree.insert(n));
    EXPECT_EQ(tree.walk(), (std::vector<std::string>{"R1", "a b", "r", "r1", "r10", "r1\x80", "r9", "~",
                                                     "\xc3\xa9"}));
    for (const auto& n : names) {
      elem* found = tree.find(n);
      ASSERT_NE(found, nullptr) << n;
      EXPECT_EQ(std::string(found->name), n);
    }
    EXPECT_EQ(tree.find("r2"), nullptr);
  }
}

// The word-at-a-time order against strcmp's, on names that differ or end at
// every place in a word and past it, with bytes above 0x7f.
TEST(NameOrder, WordsAgreeWithStrcmp) {
  std::mt19937 random(7);
  const std::string alphabet("a\x01\x7f\x80\xff", 5);
  const auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (int round = 0; round < 20000; ++round) {
    std::string a(random() % 20, 'x');
    for (char& c : a) c = alphabet[random() % 2];  // mostly shared prefixes
    std::string b = a.substr(0, random() % (a.size() + 1));
    for (std::size_t k = random() % 12; k > 0; --k) b += alphabet[random() % alphabet.size()];
    if (random() % 2 != 0) std::swap(a, b);
    std::size_t prefix = 0;
    while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) ++prefix;
    std::size_t shared = 0;
    const std::size_t known = random() % (prefix + 1);  // any count of bytes known to agree
    ASSERT_EQ(sign(WordOrder::compare(with_padding(a).c_str(), with_padding(b).c_str(), known, shared)),
              sign(std::strcmp(a.c_str(), b.c_str())))
        << "'" << a << "' against '" << b << "'";
    ASSERT_EQ(shared, prefix) << "'" << a << "' against '" << b << "'";
  }
}

// Inserts in the given order and compares every step's outcome with std::map.
// Padded trees get names with a long shared prefix, as sequencers write
// them, and each digit 5 times, so that names differ in any of their words.
void insert_and_compare(int budget, const std::vector<int>& order, bool padded) {
  Tree tree(budget, padded);
  ASSERT_NE(tree.get(), nullptr);
  const std::string prefix = padded ? "A00123:87:" : "";
  std::map<std::string, std::int32_t> model;
  for (std::size_t step = 0; step < order.size(); ++step) {
    std::string k = prefix;
    for (char c : key(order[step])) k.append(padded ? 5 : 1, c);
    ASSERT_EQ(tree.find(k), nullptr);
    ASSERT_TRUE(tree.insert(k, static_cast<std::int32_t>(step)));
    model[k] = static_cast<std::int32_t>(step);
    if (step % 97 == 0) {
      ASSERT_EQ(check_invariants(tree.get()), "") << "after " << step + 1;
    }
  }
  ASSERT_EQ(check_invariants(tree.get()), "");
  EXPECT_EQ(tree.get()->total_records, static_cast<std::int32_t>(model.size()));
  std::vector<std::string> expected;
  for (const auto& [k, tag] : model) {
    expected.push_back(k);
    elem* found = tree.find(k);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->n_hits1, tag) << "lookup found the wrong record for " << k;
  }
  EXPECT_EQ(tree.walk(), expected);
  // Below every name, between two names, above every name.
  EXPECT_EQ(tree.find(""), nullptr);
  EXPECT_EQ(tree.find(prefix + "r000000x"), nullptr);
  EXPECT_EQ(tree.find(prefix + "s"), nullptr);
}

TEST(ReadIndex, MatchesMapForSortedReversedAndRandomInserts) {
  const int n = 5000;
  std::vector<int> ascending(n);
  for (int i = 0; i < n; ++i) ascending[i] = i;
  std::vector<int> descending(ascending.rbegin(), ascending.rend());
  std::vector<int> random = ascending;
  std::shuffle(random.begin(), random.end(), std::mt19937(12345));
  for (int budget : {132, 212, 512, 4096}) {
    SCOPED_TRACE("budget " + std::to_string(budget));
    for (bool padded : {false, true}) {
      insert_and_compare(budget, ascending, padded);
      insert_and_compare(budget, descending, padded);
      insert_and_compare(budget, random, padded);
    }
  }
}

TEST(ReadIndex, BatchLookupAnswersAsSingleLookups) {
  for (int budget : {132, 512}) for (bool padded : {false, true}) {
    Tree tree(budget, padded);
    std::mt19937 random(static_cast<unsigned>(budget));
    for (int i = 0; i < 3000; ++i) ASSERT_TRUE(tree.insert(key(2 * i)));  // even keys only
    for (int round = 0; round < 300; ++round) {
      const int count = 1 + static_cast<int>(random() % kFindBatch);
      std::vector<std::string> wanted;
      for (int k = 0; k < count; ++k) {
        switch (random() % 4) {
          case 0: wanted.push_back(key(static_cast<int>(random() % 6000))); break;  // present or not
          case 1: wanted.push_back(""); break;                                       // below all
          case 2: wanted.push_back("zz"); break;                                     // above all
          default: wanted.push_back(wanted.empty() ? key(0) : wanted.back()); break; // repeated
        }
      }
      const char* names[kFindBatch];
      elem* found[kFindBatch];
      for (auto& w : wanted) w = with_padding(w);
      for (int k = 0; k < count; ++k) names[k] = wanted[static_cast<std::size_t>(k)].c_str();
      kb_find_batch_str(tree.get(), names, found, count);
      for (int k = 0; k < count; ++k) {
        ASSERT_EQ(found[k], kb_find_str(tree.get(), names[k])) << "name '" << names[k] << "'";
      }
    }
  }
  Tree empty;
  const char* names[] = {"a", ""};
  elem* found[2] = {nullptr, nullptr};
  kb_find_batch_str(empty.get(), names, found, 2);
  EXPECT_EQ(found[0], nullptr);
  EXPECT_EQ(found[1], nullptr);
}

TEST(ReadIndex, SeekStartsAtTheFirstNameNotBelow) {
  // Every stored name, every gap between two, and both ends, in trees of
  // one node up to several levels.
  for (int budget : {132, 512}) for (int n : {0, 7, 3000}) {
    Tree tree(budget);
    std::vector<std::string> sorted;
    for (int i = 0; i < n; ++i) {
      ASSERT_TRUE(tree.insert(key(2 * i)));
      sorted.push_back(key(2 * i));
    }
    for (int probe = -1; probe <= 2 * n; ++probe) {
      const std::string name = probe < 0 ? "" : key(probe);
      const auto at = std::lower_bound(sorted.begin(), sorted.end(), name);
      kb_walk w;
      kb_walk_seek_str(tree.get(), name.c_str(), w);
      // The walk from there gives the rest, in order (a few suffice).
      for (auto next = at; next != sorted.end() && next - at < 30; ++next) {
        ASSERT_TRUE(kb_walk_valid(w)) << "budget " << budget << ", probe " << name;
        ASSERT_EQ(kb_walk_record(w).name, *next) << "budget " << budget << ", probe " << name;
        kb_walk_next_str(tree.get(), w);
      }
      if (sorted.end() - at <= 30) {
        ASSERT_FALSE(kb_walk_valid(w)) << "budget " << budget << ", probe " << name;
      }
    }
  }
}

TEST(ReadIndex, DepthNamesAscendAndAreStoredNames) {
  Tree tree(132);
  std::vector<int> order(5000);
  for (int i = 0; i < 5000; ++i) order[static_cast<std::size_t>(i)] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  for (int i : order) ASSERT_TRUE(tree.insert(key(i)));
  for (std::size_t wanted : {1, 10, 200, 5000, 100000}) {
    const std::vector<const char*> names = kb_depth_names_str(tree.get(), wanted);
    // Fewer only at the leaves, which hold most names.
    EXPECT_GE(names.size(), std::min<std::size_t>(wanted, 2500)) << wanted;
    for (std::size_t k = 0; k < names.size(); ++k) {
      ASSERT_NE(tree.find(names[k]), nullptr);
      if (k > 0) {
        ASSERT_LT(std::strcmp(names[k - 1], names[k]), 0) << wanted;
      }
    }
  }
}

TEST(ReadIndex, FailedAllocationLeavesTreeSoundAndUnchanged) {
  // Make each allocation fail in turn during a run of inserts: the failing
  // insert reports false, nothing is half-done, and later inserts work.
  for (long allowed = 0; allowed < 40; ++allowed) {
    Tree tree;
    std::map<std::string, int> model;
    std::mt19937 random(static_cast<unsigned>(allowed));
    fail_allocations_after(allowed);
    for (int i = 0; i < 400; ++i) {
      std::string k = key(static_cast<int>(random() % 100000));
      if (model.count(k) != 0) continue;
      if (tree.insert(k)) model[k] = 0;
    }
    fail_allocations_after(-1);
    ASSERT_EQ(check_invariants(tree.get()), "") << "allowed " << allowed;
    ASSERT_EQ(tree.get()->total_records, static_cast<std::int32_t>(model.size()));
    std::vector<std::string> expected;
    for (const auto& [k, unused] : model) expected.push_back(k);
    ASSERT_EQ(tree.walk(), expected);
  }
}

TEST(ReadIndex, TeardownWithoutMemoryReleasesEverything) {
  // The work list cannot be made, or cannot grow past 8 or 16 slots: the
  // sanitizer's leak check fails this test if any node is left behind.
  for (long allowed : {0L, 1L, 2L}) {
    auto tree = std::make_unique<Tree>(132);  // small nodes: a deep, wide tree
    for (int i = 0; i < 3000; ++i) ASSERT_TRUE(tree->insert(key(i)));
    fail_allocations_after(allowed);
    tree.reset();
    fail_allocations_after(-1);
  }
}

}  // namespace
}  // namespace pairhits
