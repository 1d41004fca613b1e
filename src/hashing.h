// Word loads and the one hash function of the program, shared by the kept
// targets, the name filter, the lists' tables and the memos.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "read_ahead.h"

namespace pairhits {

// 2^64 divided by the golden ratio: multiplying by it spreads keys that
// differ in a few low bits over the high bits, which pick the slot.
inline constexpr std::uint64_t kGoldenMultiplier = 0x9e3779b97f4a7c15u;

// The low n bytes (n <= 8) of a word.
inline std::uint64_t low_bytes(std::size_t n) {
  return n >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1;
}

// 8 bytes as a word with byte 0 lowest, whatever the machine's byte order,
// so that the low n bytes of the word are the first n bytes.
inline std::uint64_t load_word(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// The first min(size, 8) bytes of a text as a word (byte 0 lowest), the rest
// zero. A padded view is one load and a mask; a plain text needs a copy of
// unknown size, which stalls the load that follows it.
inline std::uint64_t head_word(padded_view v) { return load_word(v.data()) & low_bytes(v.size()); }
inline std::uint64_t head_word(std::string_view text) {
  char bytes[8] = {};
  std::memcpy(bytes, text.data(), text.size() < 8 ? text.size() : 8);
  return load_word(bytes);
}

// The two odd multipliers of a well-tested 64-bit finalizer (MurmurHash3's).
inline constexpr std::uint64_t kMixMultiplier1 = 0xff51afd7ed558ccdu;
inline constexpr std::uint64_t kMixMultiplier2 = 0xc4ceb9fe1a85ec53u;

// Every input bit affects every output bit.
inline std::uint64_t finish_hash(std::uint64_t h) {
  h *= kMixMultiplier1;
  h ^= h >> 33;
  h *= kMixMultiplier2;
  return h ^ (h >> 33);
}

// Words of 8 bytes mixed in one after the other; tail(i) gives the last
// 0 to 7 bytes, from offset i, as a word.
template <typename TailWord>
std::uint64_t hash_words(const char* p, std::size_t length, TailWord tail) {
  std::uint64_t h = 0x243f6a8885a308d3u ^ length;
  std::size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    h = (h ^ word) * kGoldenMultiplier;
    h ^= h >> 29;
  }
  return finish_hash(h ^ tail(i));
}

// The same value for the same bytes, whichever way they are given.
inline std::uint64_t hash_bytes(std::string_view t) {
  return hash_words(t.data(), t.size(), [t](std::size_t i) { return head_word(t.substr(i)); });
}
inline std::uint64_t hash_bytes(padded_view v) {
  return hash_words(v.data(), v.size(), [v](std::size_t i) { return head_word(v.part(i, v.size() - i)); });
}

}  // namespace pairhits
