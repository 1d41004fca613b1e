#include "name_filter.h"

#include "alloc.h"

namespace pairhits {
namespace {
constexpr std::size_t kFirstHashRoom = 1024;
constexpr std::size_t kFirstWords = 2048;
// Growing fourfold keeps the rebuilds' total work below half the names.
constexpr std::size_t kGrowth = 4;
}  // namespace

NameFilter::~NameFilter() {
  mem_free(words_);
  mem_free(hashes_);
}

bool NameFilter::add(std::uint64_t hash) {
  if (names_ == hash_room_ && !grow_hashes()) return false;
  hashes_[names_++] = hash;
  if (names_ * kBitsPerName > word_count_ * 64) return rebuild();
  words_[word_of(hash)] |= bits_of(hash);
  return true;
}

bool NameFilter::grow_hashes() {
  const std::size_t room = hash_room_ == 0 ? kFirstHashRoom : 2 * hash_room_;
  auto* bigger = static_cast<std::uint64_t*>(mem_realloc(hashes_, room * sizeof(std::uint64_t)));
  if (bigger == nullptr) return false;
  hashes_ = bigger;
  hash_room_ = room;
  return true;
}

// The names' hashes are kept in a plain array (8 bytes a name) because
// rebuilding from the names themselves would visit them in the index's
// order: in a large table, a cache miss for every name.
bool NameFilter::rebuild() {
  std::size_t count = word_count_ == 0 ? kFirstWords : word_count_;
  while (names_ * kBitsPerName > count * 64) count *= kGrowth;
  auto* fresh = static_cast<std::uint64_t*>(mem_calloc(count, sizeof(std::uint64_t)));
  if (fresh == nullptr) return false;
  mem_free(words_);
  words_ = fresh;
  word_count_ = count;
  for (std::size_t i = 0; i < names_; ++i) words_[word_of(hashes_[i])] |= bits_of(hashes_[i]);
  return true;
}

}  // namespace pairhits
