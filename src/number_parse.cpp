// Reading the number columns: strtod's exact double, mostly without strtod.
//
// Two fast paths cover nearly every text a BLAST table holds. Each gives
// exactly strtod's double for the texts it accepts and refuses the rest,
// which strtod then reads itself.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "numbers.h"

namespace pairhits {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }


// Plain decimal text ("-98.765", "2.56e-45"): an optional '-', digits with
// an optional point, an optional exponent. `mantissa` is the digits read as
// one integer (at most 19 of them, so it is exact) and the value is
// mantissa x 10^scale.
struct decimal {
  std::uint64_t mantissa;
  int scale;
  bool negative;
};
constexpr int kMaxMantissaDigits = 19;  // 10^19 < 2^64
constexpr int kMaxExponentDigits = 4;   // beyond any double's range either way

// Reads the digits of an exponent after 'e' or 'E'; false if there are none.
bool parse_exponent(const char*& p, const char* end, int& scale) {
  ++p;
  const bool down = p < end && *p == '-';
  if (p < end && (*p == '-' || *p == '+')) ++p;
  int exponent = 0;
  int exponent_digits = 0;
  for (; p < end && is_digit(*p) && exponent_digits < kMaxExponentDigits; ++p, ++exponent_digits) {
    exponent = exponent * 10 + (*p - '0');
  }
  scale += down ? -exponent : exponent;
  return exponent_digits > 0;
}

// False for anything but plain decimal text.
bool parse_plain_decimal(const char* p, const char* end, decimal& d) {
  d.negative = p < end && *p == '-';
  if (d.negative) ++p;
  std::uint64_t mantissa = 0;
  int digits = 0;
  int scale = 0;
  for (; p < end && is_digit(*p); ++p, ++digits) {
    mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
  }
  if (p < end && *p == '.') {
    for (++p; p < end && is_digit(*p); ++p, ++digits, --scale) {
      mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
    }
  }
  if (digits == 0 || digits > kMaxMantissaDigits) return false;
  if (p < end && (*p == 'e' || *p == 'E') && !parse_exponent(p, end, scale)) return false;
  if (p != end) return false;
  d.mantissa = mantissa;
  d.scale = scale;
  return true;
}

// Clinger's fast path: when the mantissa fits in 2^53 and the scale is at
// most 22 powers of ten, the value is one correctly rounded multiplication or
// division of two exact doubles, the same double strtod returns.
bool exact_small_scale(const decimal& d, double& value) {
  if (d.mantissa > (std::uint64_t{1} << 53) || d.scale < -kExactScale || d.scale > kExactScale) return false;
  const double m = static_cast<double>(d.mantissa);
  value = d.scale >= 0 ? m * kPowersOfTen[d.scale] : m / kPowersOfTen[-d.scale];
  return true;
}

#if defined(__x86_64__) || defined(__i386__)
// x87 extended precision: 64 mantissa bits, 11 more than a double has.
constexpr bool kExtendedProduct = std::numeric_limits<long double>::digits == 64;
#else
constexpr bool kExtendedProduct = false;
#endif

// Powers of ten 10^kLowestScale .. 10^kHighestScale, each correctly rounded
// to long double (strtold rounds correctly); none if long double arithmetic
// is not actually carried out in extended precision, as under emulators
// such as valgrind.
constexpr int kLowestScale = -330;
constexpr int kHighestScale = 310;

const long double* extended_powers_of_ten() {
  static const long double* const table = []() -> const long double* {
    volatile long double one = 1.0L;
    volatile long double epsilon = std::numeric_limits<long double>::epsilon();
    if (one + epsilon == one) return nullptr;
    static long double powers[kHighestScale - kLowestScale + 1];
    for (int s = kLowestScale; s <= kHighestScale; ++s) {
      char text[16];
      std::snprintf(text, sizeof text, "1e%d", s);
      powers[s - kLowestScale] = std::strtold(text, nullptr);
    }
    return powers;
  }();
  return table;
}

// The 11 bits a long double has beyond a double, and the value of those bits
// that is exactly halfway between two doubles.
constexpr int kExtraBitsMask = 0x7ff;
constexpr int kHalfway = 0x400;
// The product below is within 2 units of the long double's last place; 8
// units either side of the halfway point is a wide margin for that.
constexpr int kTieWindow = 8;

// E-values ("2.56e-45") are beyond Clinger's scales. Their mantissa (below
// 10^19 < 2^64) is exact in long double and 10^scale is correctly rounded, so
// their product is within 2^-63 relative of the true value: within 2 units of
// its last place. Rounding that product to a double gives the correctly
// rounded value unless its extra bits lie within the tie window around the
// halfway point, where the error could tip the rounding; those rare cases,
// and results outside the normal range of doubles, are refused.
bool near_product(const decimal& d, double& value) {
  if constexpr (kExtendedProduct) {
    const long double* powers = extended_powers_of_ten();
    if (powers == nullptr || d.scale < kLowestScale || d.scale > kHighestScale || d.mantissa == 0) return false;
    const long double product = static_cast<long double>(d.mantissa) * powers[d.scale - kLowestScale];
    unsigned char bytes[sizeof(long double)];
    std::memcpy(bytes, &product, sizeof bytes);
    std::uint64_t significand;
    std::uint16_t sign_exponent;
    std::memcpy(&significand, bytes, 8);
    std::memcpy(&sign_exponent, bytes + 8, 2);
    const int exponent = (sign_exponent & 0x7fff) - 16383;
    if (exponent < -1021 || exponent > 1022) return false;  // subnormal or overflowing doubles
    const int extra = static_cast<int>(significand & kExtraBitsMask);
    if (extra >= kHalfway - kTieWindow && extra <= kHalfway + kTieWindow) return false;
    const double v = static_cast<double>(product);
    value = d.negative ? -v : v;
    return true;
  } else {
    (void)d;
    (void)value;
    return false;
  }
}

}  // namespace

double parse_number(const char* field, std::size_t length) {
  if constexpr (kPlainBuild) return std::strtod(field, nullptr);
  // Anything but plain decimal text (blanks, '+', hex, inf/nan words,
  // trailing junk, out of range) is left to strtod itself.
  const char* last = field + length;
  double value;
  decimal d;
  if (parse_plain_decimal(field, last, d)) {
    if (exact_small_scale(d, value)) return d.negative ? -value : value;
    if (near_product(d, value)) return value;
  }
  const char* body = (length > 0 && field[0] == '-') ? field + 1 : field;
  if (body < last && (is_digit(*body) || *body == '.')) {
    auto [stop, error] = std::from_chars(field, last, value);
    if (error == std::errc() && stop == last) return value;
  }
  return std::strtod(field, nullptr);
}

}  // namespace pairhits
