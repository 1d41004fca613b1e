// Reading the number columns: strtod's exact double, mostly without strtod.
//
// Clinger's fast path takes short decimals ("98.765"); std::from_chars,
// which rounds correctly as strtod does, takes the other plain numbers
// ("2.56e-45"). Both give exactly strtod's double for the texts they accept
// and refuse the rest, which strtod then reads itself.
#include <charconv>
#include <cstdlib>
#include <cstring>

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
  }
  const char* body = (length > 0 && field[0] == '-') ? field + 1 : field;
  if (body < last && (is_digit(*body) || *body == '.')) {
    auto [stop, error] = std::from_chars(field, last, value);
    if (error == std::errc() && stop == last) return value;
  }
  return std::strtod(field, nullptr);
}

}  // namespace pairhits
