// The name filter: a Bloom filter of the read names in the index.
//
// Its "no" is certain, so a name seen for the first time goes straight to
// insertion instead of first paying for a lookup through cold nodes that
// must fail. Its "maybe" is wrong for about 1% of new names. Both bits of a
// name lie in one 64-bit word, so a check costs one memory access.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pairhits {

class NameFilter {
 public:
  NameFilter() = default;
  ~NameFilter();
  NameFilter(const NameFilter&) = delete;
  NameFilter& operator=(const NameFilter&) = delete;

  // False only if no name with this hash (hash_bytes of the name) was added.
  bool may_contain(std::uint64_t hash) const {
    return words_ == nullptr || (words_[word_of(hash)] & bits_of(hash)) == bits_of(hash);
  }

  // Starts fetching the word that may_contain(hash) reads: the filter of a
  // large table is larger than the cache.
  void prefetch(std::uint64_t hash) const {
    if (words_ != nullptr) __builtin_prefetch(&words_[word_of(hash)]);
  }

  // Records the hash of a name just inserted into the index; when the filter
  // gets too full it is rebuilt, larger. False if memory ran out.
  bool add(std::uint64_t hash);

 private:
  static constexpr std::size_t kBitsPerName = 10;  // about 1% false "maybe"

  std::size_t word_of(std::uint64_t hash) const { return (hash >> 32) & (word_count_ - 1); }
  static std::uint64_t bits_of(std::uint64_t hash) {
    return (std::uint64_t{1} << (hash & 63)) | (std::uint64_t{1} << ((hash >> 6) & 63));
  }
  bool grow_hashes();
  bool rebuild();

  std::uint64_t* words_ = nullptr;
  std::size_t word_count_ = 0;
  std::uint64_t* hashes_ = nullptr;  // of every name added
  std::size_t hash_room_ = 0;
  std::size_t names_ = 0;
};

}  // namespace pairhits
