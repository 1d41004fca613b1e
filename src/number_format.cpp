// Writing numbers as printf's "%g" writes them: six significant digits,
// trailing zeros dropped, exponent form below 1e-4 and from 1e6. Done here
// from the rounded digits when they are certain; to_chars, which prints
// exactly what printf prints, decides the rest.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "numbers.h"

namespace pairhits {
namespace {

constexpr double kLog10Of2 = 0.30102999566398120;

// Scaling by exact powers of ten costs at most about 20 roundings of 2^-53
// each; a fraction this close to one half may be on either side of it.
constexpr double kTieMargin = 1e-6;

// magnitude x 10^shift, in steps of exact powers of ten: each step is one
// correctly rounded operation.
double scale_by_power_of_ten(double magnitude, int shift) {
  while (shift > kExactScale) {
    magnitude *= 1e22;
    shift -= kExactScale;
  }
  while (shift < -kExactScale) {
    magnitude /= 1e22;
    shift += kExactScale;
  }
  return shift >= 0 ? magnitude * kPowersOfTen[shift] : magnitude / kPowersOfTen[-shift];
}

// The six significant digits of a finite, non-zero |value| and its decimal
// exponent, as "%g" rounds them; false when the rounding is too close to a
// tie to be decided in floating point.
bool six_digits(double magnitude, std::uint32_t& digits, int& exponent) {
  int binary_exponent;
  std::frexp(magnitude, &binary_exponent);
  // floor(log10(magnitude)), give or take one; corrected below.
  exponent = static_cast<int>(std::floor((binary_exponent - 1) * kLog10Of2));
  for (int attempt = 0; attempt < 3; ++attempt) {
    const double scaled = scale_by_power_of_ten(magnitude, 5 - exponent);
    if (scaled < 1e5) {
      --exponent;
      continue;
    }
    if (scaled >= 1e6) {
      ++exponent;
      continue;
    }
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) < kTieMargin) return false;
    digits = static_cast<std::uint32_t>(whole) + (fraction > 0.5 ? 1 : 0);
    if (digits == 1000000) {
      digits = 100000;
      ++exponent;
    }
    return true;
  }
  return false;
}

// The digits d[0 .. used - 1] (d[0] not zero) times 10^(exponent - used + 1).
char* write_exponent_form(char* o, const char* d, int used, int exponent) {
  *o++ = d[0];
  if (used > 1) {
    *o++ = '.';
    for (int k = 1; k < used; ++k) *o++ = d[k];
  }
  *o++ = 'e';
  *o++ = exponent < 0 ? '-' : '+';
  const int e = std::abs(exponent);
  if (e >= 100) *o++ = static_cast<char>('0' + e / 100);
  *o++ = static_cast<char>('0' + e / 10 % 10);
  *o++ = static_cast<char>('0' + e % 10);
  return o;
}

char* write_fixed_form(char* o, const char* d, int used, int exponent) {
  if (exponent >= 0) {
    for (int k = 0; k <= exponent; ++k) *o++ = d[k];
    if (used > exponent + 1) {
      *o++ = '.';
      for (int k = exponent + 1; k < used; ++k) *o++ = d[k];
    }
    return o;
  }
  *o++ = '0';
  *o++ = '.';
  for (int k = -1; k > exponent; --k) *o++ = '0';
  for (int k = 0; k < used; ++k) *o++ = d[k];
  return o;
}

}  // namespace

std::size_t format_g(double value, char* out) {
  if constexpr (kPlainBuild) return static_cast<std::size_t>(std::snprintf(out, kGRoom, "%g", value));
  const double magnitude = std::fabs(value);
  std::uint32_t digits;
  int exponent;
  if (!std::isfinite(value) || magnitude == 0.0 || !six_digits(magnitude, digits, exponent)) {
    auto result = std::to_chars(out, out + kGRoom, value, std::chars_format::general, 6);
    return static_cast<std::size_t>(result.ptr - out);
  }
  char d[6];
  for (int k = 5; k >= 0; --k, digits /= 10) d[k] = static_cast<char>('0' + digits % 10);
  int used = 6;
  while (used > 1 && d[used - 1] == '0') --used;

  char* o = out;
  if (std::signbit(value)) *o++ = '-';
  o = (exponent < -4 || exponent >= 6) ? write_exponent_form(o, d, used, exponent)
                                       : write_fixed_form(o, d, used, exponent);
  return static_cast<std::size_t>(o - out);
}

}  // namespace pairhits
