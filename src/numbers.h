// Numbers: the third and seventh columns read as strtod reads them, and
// written back as printf's "%g" writes them, exactly, with fast paths that
// give the same bits and fall back to the C library wherever they cannot
// be sure; and memos of recent conversions in both directions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "build_mode.h"
#include "hashing.h"
#include "read_ahead.h"

namespace pairhits {

// Exact powers of ten: every one up to 1e22 is a double without rounding.
inline constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr int kExactScale = 22;

// strtod's value for the zero-terminated field of `length` bytes at `field`.
double parse_number(const char* field, std::size_t length);

// The longest "%g" text of a double: "-1.23457e-308".
inline constexpr std::size_t kMaxGLength = 13;

// Writes `value` as printf's "%g" does into `out` (room for kGRoom bytes)
// and returns the number of bytes written, at most kMaxGLength.
inline constexpr std::size_t kGRoom = 32;
std::size_t format_g(double value, char* out);

// Recent conversions of one column's texts to numbers, by their text.
// BLAST's columns repeat a small set of texts (identities of alignments of
// one length, e-values of whole bit scores): a real table of 6 400 hits
// holds 140 distinct identities and 46 distinct e-values.
class NumberMemo {
 public:
  // The value of a zero-terminated field.
  double convert(padded_view field) {
    const std::size_t length = field.size();
    if (kPlainBuild || length > kKeyBytes) return parse_number(field.data(), length);
    const std::uint64_t low = head_word(field);
    const std::uint64_t high = head_word(field.part(length > 8 ? 8 : length, length > 8 ? length - 8 : 0));
    const std::uint64_t key = (low * kGoldenMultiplier) ^ (high * kMixMultiplier2) ^ length;
    entry& e = entries_[(key * kMixMultiplier1) >> (64 - kBits)];
    if (e.length != length || e.low != low || e.high != high) {
      e = {low, high, parse_number(field.data(), length), static_cast<std::uint32_t>(length)};
    }
    return e.value;
  }

 private:
  static constexpr std::size_t kKeyBytes = 16;  // two words: longer texts are not remembered
  static constexpr int kBits = 9;               // 512 entries: a column's recurring texts fit
  struct entry {
    std::uint64_t low;
    std::uint64_t high;
    double value;
    std::uint32_t length;  // 0: empty (fields are never empty)
  };
  entry entries_[1 << kBits] = {};
};

// Recent "%g" conversions, by the value's bits, for the same reason.
class FormatMemo {
 public:
  // The "%g" text of `value`, valid until the next call.
  std::string_view text(double value) {
    if constexpr (kPlainBuild) {
      return {scratch_, format_g(value, scratch_)};
    }
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    entry& m = entries_[(bits * kGoldenMultiplier) >> (64 - kBits)];
    if (m.length == 0 || m.bits != bits) {
      char text[kGRoom];
      const std::size_t n = format_g(value, text);
      std::memcpy(m.text, text, n);
      m.length = static_cast<std::uint8_t>(n);
      m.bits = bits;
    }
    return {m.text, m.length};
  }

 private:
  static constexpr int kBits = 10;
  struct entry {
    std::uint64_t bits;
    std::uint8_t length;  // 0: empty
    char text[15];
  };
  static_assert(sizeof(entry::text) >= kMaxGLength, "every %g text fits an entry");
  entry entries_[1 << kBits] = {};
  char scratch_[kGRoom] = {};
};

}  // namespace pairhits
