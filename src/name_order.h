// The read index's name order, strcmp's (byte-wise, as unsigned values),
// two ways: through strcmp, for any names, and a word at a time, for names
// that may be read past their end.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hashing.h"

namespace pairhits {

// Both orders also say how many leading bytes the names share, and may be
// told a count of leading bytes the names are known to share, which they
// need not compare again. strcmp's way uses neither.
struct ByteOrder {
  static int compare(const char* a, const char* b, std::size_t /*known*/, std::size_t& shared) {
    shared = 0;
    return std::strcmp(a, b);
  }
  // Where in a name a comparison starts reading.
  static std::size_t first_read(std::size_t /*known*/) { return 0; }
};

// Names may be read from their start in 8-byte words through the word that
// holds their terminating zero: 7 bytes past it must be readable. Names that
// share long prefixes, as sequencers' read names do, then compare without a
// library call, 8 bytes a step, from the word that holds the first byte
// not known to be shared.
struct WordOrder {
  static std::size_t first_read(std::size_t known) { return known & ~std::size_t{7}; }

  static int compare(const char* a, const char* b, std::size_t known, std::size_t& shared) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighs = 0x8080808080808080u;
    for (std::size_t i = first_read(known);; i += 8) {
      const std::uint64_t x = load_word(a + i);
      const std::uint64_t y = load_word(b + i);
      // The first byte where the names differ or a ends. A zero byte's flag
      // may also be set above a real zero, never below one, so the lowest
      // flag is exact.
      const std::uint64_t stop = (x ^ y) | ((x - kOnes) & ~x & kHighs);
      if (stop != 0) {
        const int shift = std::countr_zero(stop) & ~7;
        shared = i + static_cast<std::size_t>(shift / 8);
        return static_cast<int>((x >> shift) & 0xff) - static_cast<int>((y >> shift) & 0xff);
      }
    }
  }
};

}  // namespace pairhits
