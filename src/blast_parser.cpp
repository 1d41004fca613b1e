#include "blast_parser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "alloc.h"
#include "read_index.h"
#include "readline.h"

namespace pairhits {

// ---------------------------------------------------------------- strings --

struct RecordMemory::block {
  block* next;
};

namespace {
constexpr std::size_t kMaxBlockBytes = 256 * 1024;

// The low n bytes (n <= 8) of a word.
std::uint64_t low_bytes(std::size_t n) { return n >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * n)) - 1; }

// The n <= 8 bytes at p as a word, the rest zero. With kReadAhead, 8 bytes
// at p may be read (text in a LineReader's buffer): one load instead of a
// copy of unknown size, which stalls the load that follows it.
template <bool kReadAhead = false>
std::uint64_t word_of_bytes(const char* p, std::size_t n) {
  std::uint64_t word = 0;
  if constexpr (kReadAhead) {
    std::memcpy(&word, p, 8);
    return word & low_bytes(n);
  }
  std::memcpy(&word, p, n);
  return word;
}

std::uint64_t finish_hash(std::uint64_t h) {
  h *= 0xff51afd7ed558ccdu;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53u;
  return h ^ (h >> 33);
}

template <bool kReadAhead = false>
std::uint64_t hash_name(const char* name, std::size_t length) {
  std::uint64_t h = 0x243f6a8885a308d3u ^ length;
  std::size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, name + i, 8);
    h = (h ^ word) * 0x9e3779b97f4a7c15u;
    h ^= h >> 29;
  }
  return finish_hash(h ^ word_of_bytes<kReadAhead>(name + i, length - i));
}

// Lists with room for this many hits or more carry, after their hits, a
// table of 2 x room slots: open addressing on the targets' hashes, each slot
// 0 (empty) or a hit's position + 1. A duplicate target is then found in
// constant time however long the list, and so is a target's partner in the
// report: a mate with 100 000 targets costs no 10^10 comparisons.
constexpr std::uint32_t kIndexedRoom = 64;

std::uint32_t room_of(std::int32_t count) {
  return count == 0 ? 0 : std::bit_ceil(static_cast<std::uint32_t>(count));
}

std::uint32_t* slots_of(hit* list, std::uint32_t room) {
  return reinterpret_cast<std::uint32_t*>(list + room);
}

// Targets in lists are kept texts, one pointer per distinct text, so a
// list's table hashes and compares the pointers.
std::uint64_t hash_pointer(const char* target) {
  return (reinterpret_cast<std::uintptr_t>(target) * 0x9e3779b97f4a7c15u) >> 20;
}

// Where a target is in a list's table, or the empty slot where it would go.
std::uint32_t* probe(hit* list, std::uint32_t room, const char* target) {
  std::uint32_t* slots = slots_of(list, room);
  const std::uint64_t mask = 2 * std::uint64_t{room} - 1;
  for (std::uint64_t at = hash_pointer(target) & mask;; at = (at + 1) & mask) {
    if (slots[at] == 0 || list[slots[at] - 1].target == target) return &slots[at];
  }
}

constexpr std::size_t kBlockHeader = 16;  // keeps what follows aligned for any record

// log2 of the room of a list holding `count` hits (a list of none has room for one).
int capacity_class(std::int32_t count) { return std::bit_width(room_of(count == 0 ? 1 : count)) - 1; }
}  // namespace

RecordMemory::~RecordMemory() {
  mem_free(targets_);
  while (blocks_ != nullptr) {
    block* next = blocks_->next;
    mem_free(blocks_);
    blocks_ = next;
  }
}

void* RecordMemory::carve(region& r, std::size_t bytes, std::size_t align) {
  std::size_t pad = (align - reinterpret_cast<std::uintptr_t>(r.next) % align) % align;
  if (r.next == nullptr || pad + bytes > r.room) {
    // Something too large for a quarter of a block gets a block of its own,
    // so that the current block's room stays usable.
    const bool own_block = bytes > next_block_bytes_ / 4;
    const std::size_t size = own_block ? bytes : next_block_bytes_;
    auto* b = static_cast<block*>(mem_alloc(kBlockHeader + size));
    if (b == nullptr) return nullptr;
    b->next = blocks_;
    blocks_ = b;
    char* data = reinterpret_cast<char*>(b) + kBlockHeader;
    if (own_block) return data;
    next_block_bytes_ = std::min(2 * next_block_bytes_, kMaxBlockBytes);
    r.next = data;
    r.room = size;
    pad = 0;
  }
  char* place = r.next + pad;
  r.next = place + bytes;
  r.room -= pad + bytes;
  return place;
}

const char* RecordMemory::copy(std::string_view text) {
  auto* place = static_cast<char*>(carve(text_, text.size() + 1, 1));
  if (place == nullptr) return nullptr;
  std::memcpy(place, text.data(), text.size());
  place[text.size()] = '\0';
  return place;
}

const char* RecordMemory::keep_target(std::string_view text) {
  return keep_target(text, word_of_bytes(text.data(), std::min<std::size_t>(text.size(), 8)));
}

const char* RecordMemory::keep_target(std::string_view text, std::uint64_t head) {
  if (2 * (target_count_ + 1) > target_slots_ && !grow_targets()) return nullptr;
  // A short text is all in its head word.
  const std::uint64_t full_hash = text.size() <= 8 ? finish_hash(head ^ (text.size() << 56))
                                                   : hash_name(text.data(), text.size());
  const auto hash = static_cast<std::uint32_t>(full_hash >> 32);
  const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(text.size(), UINT32_MAX));
  const std::size_t mask = target_slots_ - 1;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    kept_target& k = targets_[at];
    if (k.text == nullptr) {
      const char* kept = copy(text);
      if (kept == nullptr) return nullptr;
      k = {kept, head, hash, length};
      ++target_count_;
      return kept;
    }
    if (k.hash == hash && k.length == length && k.head == head &&
        (length <= 8 || (length < UINT32_MAX ? std::memcmp(k.text + 8, text.data() + 8, length - 8) == 0
                                             : std::string_view(k.text) == text))) {
      return k.text;
    }
  }
}

bool RecordMemory::grow_targets() {
  const std::size_t slots = target_slots_ == 0 ? 64 : 2 * target_slots_;
  auto* fresh = static_cast<kept_target*>(mem_calloc(slots, sizeof(kept_target)));
  if (fresh == nullptr) return false;
  for (std::size_t i = 0; i < target_slots_; ++i) {
    const kept_target& k = targets_[i];
    if (k.text == nullptr) continue;
    std::size_t at = k.hash & (slots - 1);
    while (fresh[at].text != nullptr) at = (at + 1) & (slots - 1);
    fresh[at] = k;
  }
  mem_free(targets_);
  targets_ = fresh;
  target_slots_ = slots;
  return true;
}

std::size_t RecordMemory::list_bytes(int cls) {
  const std::size_t room = std::size_t{1} << cls;
  return room * sizeof(hit) + (room >= kIndexedRoom ? 2 * room * sizeof(std::uint32_t) : 0);
}

hit* RecordMemory::grow_list(hit* list, std::int32_t count) {
  const int cls = count == 0 ? 0 : capacity_class(count) + 1;
  const std::size_t bytes = list_bytes(cls);
  hit* bigger;
  if (cls > kPooledClasses) {
    bigger = static_cast<hit*>(mem_alloc(bytes));
  } else if (free_lists_[cls] != nullptr) {
    bigger = free_lists_[cls];
    std::memcpy(&free_lists_[cls], static_cast<const void*>(bigger), sizeof(hit*));
  } else {
    bigger = static_cast<hit*>(carve(lists_, bytes, alignof(hit)));
  }
  if (bigger == nullptr) return nullptr;
  if (count > 0) std::memcpy(bigger, list, static_cast<std::size_t>(count) * sizeof(hit));
  const std::uint32_t room = std::uint32_t{1} << cls;
  if (room >= kIndexedRoom) {
    std::memset(slots_of(bigger, room), 0, 2 * std::size_t{room} * sizeof(std::uint32_t));
    for (std::int32_t i = 0; i < count; ++i) {
      *probe(bigger, room, bigger[i].target) = static_cast<std::uint32_t>(i) + 1;
    }
  }
  release_list(list, count);
  return bigger;
}

void RecordMemory::release_list(hit* list, std::int32_t count) {
  if (list == nullptr) return;
  const int cls = capacity_class(count);
  if (cls > kPooledClasses) {
    mem_free(list);
    return;
  }
  // A released list's first bytes link it to the next one of its class.
  std::memcpy(static_cast<void*>(list), &free_lists_[cls], sizeof(hit*));
  free_lists_[cls] = list;
}

// ---------------------------------------------------------------- records --

elem init_blast(const char* name) { return elem{name, nullptr, nullptr, 0, 0}; }

void free_elem(elem& r, RecordMemory& memory) {
  memory.release_list(r.hits1, r.n_hits1);
  memory.release_list(r.hits2, r.n_hits2);
  r.hits1 = nullptr;
  r.hits2 = nullptr;
  r.n_hits1 = 0;
  r.n_hits2 = 0;
}

std::int32_t find_target(hit* list, std::int32_t count, const char* target) {
  const std::uint32_t room = room_of(count);
  if (room >= kIndexedRoom) {
    const std::uint32_t slot = *probe(list, room, target);
    return static_cast<std::int32_t>(slot) - 1;
  }
  for (std::int32_t i = 0; i < count; ++i) {
    if (list[i].target == target) return i;
  }
  return -1;
}

add_result add_hit(elem& r, std::int32_t mate, const hit& h, RecordMemory& memory) {
  const char* kept = memory.keep_target(h.target);
  if (kept == nullptr) return add_result::alloc_failed;
  return add_kept_hit(r, mate, hit{kept, h.col3, h.col7}, memory);
}

add_result add_kept_hit(elem& r, std::int32_t mate, const hit& h, RecordMemory& memory) {
  hit*& list = mate == 1 ? r.hits1 : r.hits2;
  std::int32_t& count = mate == 1 ? r.n_hits1 : r.n_hits2;
  const char* target = h.target;
  if (find_target(list, count, target) >= 0) return add_result::duplicate;
  if (count == INT32_MAX) return add_result::alloc_failed;
  // A list is full when its count is 0 or a power of two.
  if (count == 0 || std::has_single_bit(static_cast<std::uint32_t>(count))) {
    hit* bigger = memory.grow_list(list, count);
    if (bigger == nullptr) return add_result::alloc_failed;
    list = bigger;
  }
  const std::uint32_t room = room_of(count + 1);
  if (room >= kIndexedRoom) *probe(list, room, target) = static_cast<std::uint32_t>(count) + 1;
  list[count++] = hit{target, h.col3, h.col7};
  return add_result::added;
}

// ----------------------------------------------------------------- fields --

namespace {

bool contains_suffix(const char* field, std::size_t length, char digit) {
  const char* end = field + length;
  for (const char* p = field; p + 1 < end; ++p) {
    p = static_cast<const char*>(std::memchr(p, '/', static_cast<std::size_t>(end - 1 - p)));
    if (p == nullptr) return false;
    if (p[1] == digit) return true;
  }
  return false;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Exact powers of ten: every one up to 1e22 is a double without rounding.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Plain decimal text ("-98.765", "2.56e-45"): an optional '-', digits with
// an optional point, an optional exponent. `mantissa` is the digits read as
// one integer (at most 19 of them, so it is exact) and the value is
// mantissa x 10^scale. False for anything else.
struct decimal {
  std::uint64_t mantissa;
  int scale;
  bool negative;
};

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
  if (digits == 0 || digits > 19) return false;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool down = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) ++p;
    int exponent = 0;
    int exponent_digits = 0;
    for (; p < end && is_digit(*p) && exponent_digits < 4; ++p, ++exponent_digits) {
      exponent = exponent * 10 + (*p - '0');
    }
    if (exponent_digits == 0) return false;
    scale += down ? -exponent : exponent;
  }
  if (p != end) return false;
  d.mantissa = mantissa;
  d.scale = scale;
  return true;
}

// Clinger's fast path: when the mantissa fits in 2^53 and the scale is at
// most 22 powers of ten, the value is one correctly rounded multiplication or
// division of two exact doubles, the same double strtod returns.
bool exact_small_scale(const decimal& d, double& value) {
  if (d.mantissa > (std::uint64_t{1} << 53) || d.scale < -22 || d.scale > 22) return false;
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

// E-values ("2.56e-45") are beyond Clinger's scales. Their mantissa (below
// 10^19 < 2^64) is exact in long double and 10^scale is correctly rounded, so
// their product is within 2^-63 relative of the true value: within 2 units of
// its last place. Rounding that product to a double gives the correctly
// rounded value unless its 11 extra bits lie within a few units of the
// halfway point 0x400, where the error could tip the rounding; those rare
// cases, and results outside the normal range of doubles, are refused.
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
    const int extra = static_cast<int>(significand & 0x7ff);
    if (extra >= 0x400 - 8 && extra <= 0x400 + 8) return false;
    const double v = static_cast<double>(product);
    value = d.negative ? -v : v;
    return true;
  } else {
    (void)d;
    (void)value;
    return false;
  }
}

// The six significant digits of a finite, non-zero |value| and its decimal
// exponent, as "%g" rounds them; false when the rounding is too close to a
// tie to be decided in floating point (then to_chars decides exactly).
bool six_digits(double magnitude, std::uint32_t& digits, int& exponent) {
  int binary_exponent;
  std::frexp(magnitude, &binary_exponent);
  // floor(log10(magnitude)), give or take one; corrected below.
  exponent = static_cast<int>(std::floor((binary_exponent - 1) * 0.30102999566398120));
  for (int attempt = 0; attempt < 3; ++attempt) {
    // scaled = magnitude * 10^(5 - exponent), in steps of exact powers of ten:
    // each step is one correctly rounded operation, so the error stays below
    // 20 * 2^-53 relative, far inside the margin checked below.
    double scaled = magnitude;
    int shift = 5 - exponent;
    while (shift > 22) {
      scaled *= 1e22;
      shift -= 22;
    }
    while (shift < -22) {
      scaled /= 1e22;
      shift += 22;
    }
    scaled = shift >= 0 ? scaled * kPowersOfTen[shift] : scaled / kPowersOfTen[-shift];
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
    if (std::fabs(fraction - 0.5) < 1e-6) return false;
    digits = static_cast<std::uint32_t>(whole) + (fraction > 0.5 ? 1 : 0);
    if (digits == 1000000) {
      digits = 100000;
      ++exponent;
    }
    return true;
  }
  return false;
}

// Where each of the byte values kBytes lies among the 64 bytes at p: bit i
// of mask k is set when byte i equals the k-th value.
template <char... kBytes>
std::array<std::uint64_t, sizeof...(kBytes)> masks_64(const char* p) {
  constexpr char bytes[] = {kBytes...};
  std::array<std::uint64_t, sizeof...(kBytes)> masks{};
#if defined(__SSE2__)
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    for (std::size_t b = 0; b < masks.size(); ++b) {
      const auto bits = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(bytes[b]))));
      masks[b] |= std::uint64_t{bits} << (16 * k);
    }
  }
#else
  for (int i = 0; i < 64; ++i) {
    for (std::size_t b = 0; b < masks.size(); ++b) masks[b] |= std::uint64_t{p[i] == bytes[b]} << i;
  }
#endif
  return masks;
}

}  // namespace

double parse_number(const char* field, std::size_t length) {
  // Both fast paths give exactly strtod's double for the text they accept;
  // anything else (blanks, '+', hex, inf/nan words, trailing junk, out of
  // range) is left to strtod itself.
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

std::size_t format_g(double value, char* out) {
  // printf's "%g": six significant digits, trailing zeros dropped, exponent
  // form below 1e-4 and from 1e6. Done here from the rounded digits when they
  // are certain; to_chars (which prints exactly what printf prints) otherwise.
  const double magnitude = std::fabs(value);
  std::uint32_t digits;
  int exponent;
  if (!std::isfinite(value) || magnitude == 0.0 || !six_digits(magnitude, digits, exponent)) {
    auto result = std::to_chars(out, out + 32, value, std::chars_format::general, 6);
    return static_cast<std::size_t>(result.ptr - out);
  }
  char d[6];
  for (int k = 5; k >= 0; --k, digits /= 10) d[k] = static_cast<char>('0' + digits % 10);
  int used = 6;
  while (used > 1 && d[used - 1] == '0') --used;

  char* o = out;
  if (std::signbit(value)) *o++ = '-';
  if (exponent < -4 || exponent >= 6) {
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
  } else if (exponent >= 0) {
    for (int k = 0; k <= exponent; ++k) *o++ = d[k];
    if (used > exponent + 1) {
      *o++ = '.';
      for (int k = exponent + 1; k < used; ++k) *o++ = d[k];
    }
  } else {
    *o++ = '0';
    *o++ = '.';
    for (int k = -1; k > exponent; --k) *o++ = '0';
    for (int k = 0; k < used; ++k) *o++ = d[k];
  }
  return static_cast<std::size_t>(o - out);
}

namespace {

// parse_Blast_Line's work, also giving the name's and the target's lengths.
// With kReadAhead, the bytes up to 63 past the line's end may be read (a
// LineReader's lines): blocks are then loaded where they lie instead of
// being copied first. convert(field, length, column) gives the value of
// column 3 or 7 from its zero-terminated text.
template <bool kReadAhead, typename Convert>
bool split_hit_line(char* line, std::size_t length, hit& h, char*& name, std::size_t& name_length,
                    std::size_t& target_length, std::int32_t& mate, Convert&& convert) {
  // One pass over the line, 64 bytes at a time: a field starts at a non-TAB
  // byte after a TAB (or at the line start) and ends at a TAB after a non-TAB.
  constexpr int kWanted = 9;
  std::size_t starts[kWanted];
  std::size_t ends[kWanted];
  int n_starts = 0;
  int n_ends = 0;
  bool has_zero = false;
  std::uint64_t tab_before = 1;  // the line start counts as a TAB
  // Where the mate marks "/1" and "/2" start in the first block: bit i when
  // bytes i and i + 1 are such a mark (one at byte 63 is not seen).
  std::uint64_t slash_one = 0;
  std::uint64_t slash_two = 0;
  for (std::size_t base = 0; base < length; base += 64) {
    const std::size_t n = std::min<std::size_t>(64, length - base);
    const char* block = line + base;
    char padded[64];
    if (!kReadAhead && n < 64) {
      std::memcpy(padded, block, n);
      std::memset(padded + n, 0, 64 - n);
      block = padded;
    }
    const std::uint64_t valid = n == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
    const auto [all_tabs, zeros] = masks_64<'\t', '\0'>(block);
    if (base == 0) {
      const auto [slashes, ones, twos] = masks_64<'/', '1', '2'>(block);
      slash_one = slashes & (ones >> 1);
      slash_two = slashes & (twos >> 1);
    }
    const std::uint64_t tabs = all_tabs & valid;
    has_zero = has_zero || (zeros & valid) != 0;
    const std::uint64_t after_tab = (tabs << 1) | tab_before;
    std::uint64_t field_starts = ~tabs & after_tab & valid;
    std::uint64_t field_ends = tabs & ~after_tab;
    tab_before = tabs >> 63;
    for (; field_starts != 0 && n_starts < kWanted; field_starts &= field_starts - 1) {
      starts[n_starts++] = base + static_cast<std::size_t>(std::countr_zero(field_starts));
    }
    for (; field_ends != 0 && n_ends < kWanted; field_ends &= field_ends - 1) {
      ends[n_ends++] = base + static_cast<std::size_t>(std::countr_zero(field_ends));
    }
    if (n_ends == kWanted) {
      // Field 9 is complete; the rest of the line matters only if it holds a zero byte.
      const std::size_t rest = base + 64;
      has_zero = has_zero || (rest < length && std::memchr(line + rest, '\0', length - rest) != nullptr);
      break;
    }
  }
  if (n_starts == 0) return false;
  for (int k = n_ends; k < n_starts; ++k) ends[k] = length;  // the last field runs to the line end

  char* const field1 = line + starts[0];
  const std::size_t length1 = ends[0] - starts[0];
  if (ends[0] < 64) {
    // A mark at position p lies in field 1 when start <= p and p + 1 < end.
    const std::uint64_t in_field = ((std::uint64_t{1} << (ends[0] - 1)) - 1) >> starts[0] << starts[0];
    if ((slash_one & in_field) != 0) mate = 1;
    if ((slash_two & in_field) != 0) mate = 2;
  } else {
    if (contains_suffix(field1, length1, '1')) mate = 1;
    if (contains_suffix(field1, length1, '2')) mate = 2;
  }

  if (n_starts < kWanted || length1 < 2 || has_zero) return false;

  // Each field is followed by a TAB or by the line's own terminating zero.
  line[ends[2]] = '\0';
  line[ends[6]] = '\0';
  line[ends[8]] = '\0';
  field1[length1 - 2] = '\0';
  name = field1;
  name_length = length1 - 2;
  h.target = line + starts[8];
  target_length = ends[8] - starts[8];
  h.col3 = convert(line + starts[2], ends[2] - starts[2], 3);
  h.col7 = convert(line + starts[6], ends[6] - starts[6], 7);
  return true;
}

}  // namespace

bool parse_Blast_Line(char* line, std::size_t length, hit& h, char*& name, std::int32_t& mate) {
  std::size_t name_length;
  std::size_t target_length;
  return split_hit_line<false>(line, length, h, name, name_length, target_length, mate,
                               [](const char* field, std::size_t n, int) { return parse_number(field, n); });
}

// ----------------------------------------------------------------- output --

namespace {

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool write_message(int fd, const char* text) { return write_all(fd, text, std::strlen(text)); }

// Buffers the report and remembers the first write error.
class ReportWriter {
 public:
  explicit ReportWriter(int fd) : fd_(fd) {}

  bool failed() const { return error_ != 0; }
  int error_number() const { return error_; }

  void line(const char* name, const hit& a, const hit& b) {
    const std::size_t name_length = std::strlen(name);
    const std::size_t target_length = std::strlen(a.target);
    if (name_length + target_length + kNumbersRoom > kCapacity - used_) flush();
    if (name_length + target_length + kNumbersRoom <= kCapacity - used_) {
      char* o = buf_ + used_;
      o = put(o, name, name_length);
      o = numbers(o, a.col3, b.col3, a.col7, b.col7);
      o = put(o, a.target, target_length);
      *o++ = '\n';
      used_ = static_cast<std::size_t>(o - buf_);
      return;
    }
    // Names or targets longer than the buffer: write piece by piece.
    char middle[kNumbersRoom];
    std::size_t middle_length =
        static_cast<std::size_t>(numbers(middle, a.col3, b.col3, a.col7, b.col7) - middle);
    direct(name, name_length);
    direct(middle, middle_length);
    direct(a.target, target_length);
    direct("\n", 1);
  }

  void flush() {
    if (used_ > 0 && !failed() && !write_all(fd_, buf_, used_)) error_ = errno;
    used_ = 0;
  }

 private:
  static constexpr std::size_t kCapacity = 64 * 1024;
  static constexpr std::size_t kNumbersRoom = 4 * 32 + 8;  // four numbers and the separators

  // Names, targets and numbers are short: two overlapping moves of a fixed
  // width copy them without a loop, and without the string instructions a
  // compiler may choose for a copy of unknown size, which are slow to start.
  template <std::size_t kWidth>
  static void move_ends(char* o, const char* s, std::size_t n) {
    char head[kWidth];
    char tail[kWidth];
    std::memcpy(head, s, kWidth);
    std::memcpy(tail, s + n - kWidth, kWidth);
    std::memcpy(o, head, kWidth);
    std::memcpy(o + n - kWidth, tail, kWidth);
  }

  static char* put(char* o, const char* s, std::size_t n) {
    if (n >= 16) {
      if (n <= 32) {
        move_ends<16>(o, s, n);
      } else if (n <= 64) {
        move_ends<32>(o, s, n);
      } else {
        std::memcpy(o, s, n);
      }
    } else if (n >= 8) {
      move_ends<8>(o, s, n);
    } else if (n >= 4) {
      move_ends<4>(o, s, n);
    } else {
      for (std::size_t k = 0; k < n; ++k) o[k] = s[k];
    }
    return o + n;
  }

  // "\t" col3 "," col3 "\t" col7 "," col7 "\t"
  char* numbers(char* o, double a3, double b3, double a7, double b7) {
    *o++ = '\t';
    o = number(o, a3);
    *o++ = ',';
    o = number(o, b3);
    *o++ = '\t';
    o = number(o, a7);
    *o++ = ',';
    o = number(o, b7);
    *o++ = '\t';
    return o;
  }

  // BLAST's columns repeat a small set of values (identities of alignments
  // of one length, e-values of whole bit scores), so recent conversions are
  // remembered, by the value's bits.
  char* number(char* o, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    memo& m = memos_[(bits * 0x9e3779b97f4a7c15u) >> (64 - kMemoBits)];
    if (m.length == 0 || m.bits != bits) {
      char text[32];
      const std::size_t n = format_g(value, text);
      if (n > sizeof m.text) {
        std::memcpy(o, text, n);  // too long to remember; rare
        return o + n;
      }
      std::memcpy(m.text, text, n);
      m.length = static_cast<std::uint8_t>(n);
      m.bits = bits;
    }
    return put(o, m.text, m.length);
  }

  void direct(const char* s, std::size_t n) {
    flush();
    if (!failed() && !write_all(fd_, s, n)) error_ = errno;
  }

  struct memo {
    std::uint64_t bits;
    std::uint8_t length;  // 0: empty
    char text[15];
  };
  static constexpr int kMemoBits = 10;

  int fd_;
  int error_ = 0;
  std::size_t used_ = 0;
  memo memos_[1 << kMemoBits] = {};
  char buf_[kCapacity];
};

// ------------------------------------------------------------------- run --

// Calls visit(record) for every record in name order, calling touch(record)
// a few records earlier. Records lie in nodes in name order, but what they
// point to was allocated in the order the table named them: in a large,
// scattered table each record's strings and lists are cache misses, which
// touch can start early (prefetch) so that they overlap. Stops early when
// visit returns false, and then returns false.
template <typename Touch, typename Visit>
bool walk_ahead(const read_index* index, Touch touch, Visit visit) {
  constexpr int kAhead = 16;
  kb_walk w;
  kb_walk ahead;
  kb_walk_first_str(index, ahead);
  for (int k = 0; k < kAhead && kb_walk_valid(ahead); ++k) {
    touch(kb_walk_record(ahead));
    kb_walk_next_str(index, ahead);
  }
  for (kb_walk_first_str(index, w); kb_walk_valid(w); kb_walk_next_str(index, w)) {
    if (kb_walk_valid(ahead)) {
      touch(kb_walk_record(ahead));
      kb_walk_next_str(index, ahead);
    }
    if (!visit(kb_walk_record(w))) return false;
  }
  return true;
}

void fetch_lists(const elem& r) {
  __builtin_prefetch(r.hits1);
  __builtin_prefetch(r.hits2);
}

// The read index and the strings of one run. Whatever way the run ends, every
// record's lists, every node and every string are released exactly once.
class ReadTable {
 public:
  ReadTable() : index_(kb_init_str(512)) {}
  ~ReadTable() {
    if (index_ == nullptr) return;
    if (!lists_released_) {
      walk_ahead(index_, fetch_lists, [this](elem& r) {
        free_elem(r, memory_);
        return true;
      });
    }
    kb_free_str(index_);
  }
  ReadTable(const ReadTable&) = delete;
  ReadTable& operator=(const ReadTable&) = delete;

  bool ok() const { return index_ != nullptr; }
  read_index* index() const { return index_; }
  RecordMemory& memory() { return memory_; }

  // Says that every record's lists have been released (a completed report
  // does that), so the teardown need not visit the records again.
  void lists_released() { lists_released_ = true; }

 private:
  read_index* index_;
  RecordMemory memory_;
  bool lists_released_ = false;
};


// A Bloom filter of the names in the index: "no" is certain, so a name seen
// for the first time goes straight to insertion instead of first paying for a
// lookup through cold nodes that must fail. Both bits of a name lie in one
// 64-bit word, so a check costs one memory access.
class NameFilter {
 public:
  NameFilter() = default;
  ~NameFilter() {
    mem_free(words_);
    mem_free(hashes_);
  }
  NameFilter(const NameFilter&) = delete;
  NameFilter& operator=(const NameFilter&) = delete;

  bool may_contain(std::uint64_t hash) const {
    return words_ == nullptr || (words_[word_of(hash)] & bits_of(hash)) == bits_of(hash);
  }

  // Records the hash of a name just inserted into the index; when the filter
  // gets too full it is rebuilt, larger. False if memory ran out.
  bool add(std::uint64_t hash) {
    if (names_ == hash_room_ && !grow_hashes()) return false;
    hashes_[names_++] = hash;
    if (names_ * kBitsPerName > word_count_ * 64) return rebuild();
    words_[word_of(hash)] |= bits_of(hash);
    return true;
  }

 private:
  static constexpr std::size_t kBitsPerName = 10;  // about 1% false "maybe"

  std::size_t word_of(std::uint64_t hash) const { return (hash >> 32) & (word_count_ - 1); }
  static std::uint64_t bits_of(std::uint64_t hash) {
    return (std::uint64_t{1} << (hash & 63)) | (std::uint64_t{1} << ((hash >> 6) & 63));
  }

  bool grow_hashes() {
    const std::size_t room = hash_room_ == 0 ? 1024 : 2 * hash_room_;
    auto* bigger = static_cast<std::uint64_t*>(mem_realloc(hashes_, room * sizeof(std::uint64_t)));
    if (bigger == nullptr) return false;
    hashes_ = bigger;
    hash_room_ = room;
    return true;
  }

  // The names' hashes are kept in a plain array (8 bytes a name) because
  // rebuilding from the names themselves would visit them in the index's
  // order: in a large table, a cache miss for every name.
  bool rebuild() {
    // Growing fourfold keeps the rebuilds' total work below half the names.
    std::size_t count = word_count_ == 0 ? 2048 : word_count_;
    while (names_ * kBitsPerName > count * 64) count *= 4;
    auto* fresh = static_cast<std::uint64_t*>(mem_calloc(count, sizeof(std::uint64_t)));
    if (fresh == nullptr) return false;
    mem_free(words_);
    words_ = fresh;
    word_count_ = count;
    for (std::size_t i = 0; i < names_; ++i) words_[word_of(hashes_[i])] |= bits_of(hashes_[i]);
    return true;
  }

  std::uint64_t* words_ = nullptr;
  std::size_t word_count_ = 0;
  std::uint64_t* hashes_ = nullptr;  // of every name added
  std::size_t hash_room_ = 0;
  std::size_t names_ = 0;
};

// Recent conversions of one column's numbers, by their text. BLAST's
// columns repeat a small set of texts (identities of alignments of one
// length, e-values of whole bit scores): a real table of 6 400 hits holds
// 140 distinct identities and 46 distinct e-values.
class NumberMemo {
 public:
  // The value of a zero-terminated field of `length` bytes, from which 16
  // bytes may be read (a LineReader's line lets a scanner read ahead).
  double convert(const char* field, std::size_t length) {
    if (length > 16) return parse_number(field, length);
    const std::uint64_t low = word_of_bytes<true>(field, std::min<std::size_t>(length, 8));
    const std::uint64_t high = word_of_bytes<true>(field + 8, length > 8 ? length - 8 : 0);
    const std::uint64_t key = (low * 0x9e3779b97f4a7c15u) ^ (high * 0xc2b2ae3d27d4eb4fu) ^ length;
    entry& e = entries_[(key * 0xff51afd7ed558ccdu) >> (64 - kBits)];
    if (e.length != length || e.low != low || e.high != high) {
      e = {low, high, parse_number(field, length), static_cast<std::uint32_t>(length)};
    }
    return e.value;
  }

 private:
  struct entry {
    std::uint64_t low;
    std::uint64_t high;
    double value;
    std::uint32_t length;  // 0: empty (fields are never empty)
  };
  static constexpr int kBits = 9;
  entry entries_[1 << kBits] = {};
};

enum class load_status { ok, alloc_failed, realloc_failed, read_failed };

struct load_stats {
  unsigned long long skipped = 0;     // incomplete lines, other than empty or '#' ones
  unsigned long long first_skipped = 0;  // line number of the first of them
  int read_errno = 0;
};

// A complete hit line waiting in a batch; its strings point into the
// reader's buffer, which stays put until the next read.
struct parsed_hit {
  char* name;
  std::size_t name_length;
  std::uint64_t hash;  // of the name, for the name filter
  hit h;
  std::int32_t mate;
};

// Files every complete line of the table under its read name and mate.
//
// Lines are gathered in batches of up to kFindBatch, as many as the reader
// holds without reading. A batch's names are looked up together, so that the
// lookups' cache misses overlap. Names found have records already: their
// hits are filed at once, which changes only lists. The other lines name new
// reads and go one by one through insertion, whose paths the lookups have
// just brought into cache. Lines of one name keep their order either way, and
// records of different names are independent, so the result is the same as
// filing the lines one by one.
class Loader {
  // Lines come from a LineReader, after whose lines the splitter may load a
  // whole 64-byte block, the number memo 16 bytes and the hashes a word.
  static_assert(LineReader::kReadAhead >= 64);

 public:
  explicit Loader(ReadTable& table) : table_(table), index_(table.index()) {}

  load_status run(LineReader& reader, load_stats& stats) {
    std::int32_t mate = 0;
    unsigned long long line_number = 0;
    char* line;
    std::size_t length;
    for (;;) {
      switch (reader.readline(line, length, batch_size_ == 0)) {
        case read_result::line:
          break;
        case read_result::pending:
          if (!file_batch()) return load_status::alloc_failed;
          continue;
        case read_result::end:
          return file_batch() ? load_status::ok : load_status::alloc_failed;
        case read_result::read_error:
          stats.read_errno = reader.error_number();
          return load_status::read_failed;
        case read_result::realloc_failed:
          return load_status::realloc_failed;
      }
      ++line_number;
      const bool quiet = length == 0 || line[0] == '#';
      parsed_hit& p = batch_[batch_size_];
      std::size_t target_length;
      const auto convert = [this](const char* field, std::size_t n, int column) {
        return (column == 3 ? col3_ : col7_).convert(field, n);
      };
      if (!split_hit_line<true>(line, length, p.h, p.name, p.name_length, target_length, mate, convert)) {
        if (!quiet && stats.skipped++ == 0) stats.first_skipped = line_number;
        continue;
      }
      p.h.target = table_.memory().keep_target(
          std::string_view(p.h.target, target_length),
          word_of_bytes<true>(p.h.target, std::min<std::size_t>(target_length, 8)));
      if (p.h.target == nullptr) return load_status::alloc_failed;
      p.mate = mate;
      if (++batch_size_ == kFindBatch && !file_batch()) return load_status::alloc_failed;
    }
  }

 private:
  bool file_batch() {
    const char* names[kFindBatch];
    elem* found[kFindBatch + 1];
    found[kFindBatch] = nullptr;  // the answer for names certainly new
    int lookup_of[kFindBatch];    // which lookup answers each line
    bool first_of_run[kFindBatch];  // whether a line's name differs from the line before's
    int runs = 0;
    for (int k = 0; k < batch_size_; ++k) {
      parsed_hit& p = batch_[k];
      first_of_run[k] = k == 0 || !same_name(batch_[k - 1], p);
      if (first_of_run[k]) {
        p.hash = hash_name<true>(p.name, p.name_length);
        ++runs;
      } else {
        p.hash = batch_[k - 1].hash;
      }
    }
    // A name certainly new needs no lookup, except in a scattered table,
    // whose lines rarely follow one of the same read: there the lookup brings
    // the new name's insertion path into cache alongside the others. In a
    // table whose reads come in blocks, new names land near each other, that
    // path is warm already and the lookup would only cost comparisons.
    const bool scattered = 4 * runs > 3 * batch_size_;
    int lookups = 0;
    for (int k = 0; k < batch_size_; ++k) {
      parsed_hit& p = batch_[k];
      if (!first_of_run[k]) {
        lookup_of[k] = lookup_of[k - 1];
      } else if (scattered || known_.may_contain(p.hash)) {
        names[lookups] = p.name;
        lookup_of[k] = lookups++;
      } else {
        lookup_of[k] = kFindBatch;
      }
    }
    kb_find_batch_str(index_, names, found, lookups);

    // Filing reads the mate's list (its targets are compared as pointers):
    // fetch the lists of all found records first, so those misses overlap too.
    for (int k = 0; k < batch_size_; ++k) {
      if (const elem* r = found[lookup_of[k]]) __builtin_prefetch(batch_[k].mate == 1 ? r->hits1 : r->hits2);
    }

    int deferred = 0;
    for (int k = 0; k < batch_size_; ++k) {
      elem* r = found[lookup_of[k]];
      if (r == nullptr) {
        batch_[deferred++] = batch_[k];
      } else if (add_kept_hit(*r, batch_[k].mate, batch_[k].h, table_.memory()) == add_result::alloc_failed) {
        return false;
      }
    }
    batch_size_ = 0;
    for (int k = 0; k < deferred; ++k) {
      if (!file_one(batch_[k])) return false;
    }
    return true;
  }

  static bool same_name(const parsed_hit& a, const parsed_hit& b) {
    return a.name_length == b.name_length && std::memcmp(a.name, b.name, a.name_length) == 0;
  }

  // Files one line whose name had no record when its batch was looked up.
  bool file_one(const parsed_hit& p) {
    elem* r = nullptr;
    if (last_ != nullptr && last_length_ == p.name_length &&
        std::memcmp(last_->name, p.name, p.name_length) == 0) {
      r = last_;
    } else if (known_.may_contain(p.hash)) {
      r = kb_find_str(index_, p.name);
    }
    last_length_ = p.name_length;
    if (r != nullptr) {
      last_ = r;
      return add_kept_hit(*r, p.mate, p.h, table_.memory()) != add_result::alloc_failed;
    }
    const char* kept_name = table_.memory().copy(std::string_view(p.name, p.name_length));
    if (kept_name == nullptr) return false;
    elem fresh = init_blast(kept_name);
    last_ = add_kept_hit(fresh, p.mate, p.h, table_.memory()) == add_result::alloc_failed
                ? nullptr
                : kb_insert_str(index_, fresh);
    if (last_ == nullptr) {
      free_elem(fresh, table_.memory());
      return false;
    }
    return known_.add(p.hash);
  }

  ReadTable& table_;
  read_index* index_;
  // The record last inserted or found by file_one: a new read's lines come
  // together, and only an insertion moves records (it says where the new one is).
  elem* last_ = nullptr;
  std::size_t last_length_ = 0;
  NameFilter known_;
  NumberMemo col3_;
  NumberMemo col7_;
  parsed_hit batch_[kFindBatch];
  int batch_size_ = 0;
};

load_status parse_blast_alignment(LineReader& reader, ReadTable& table, load_stats& stats) {
  Loader loader(table);
  return loader.run(reader, stats);
}

// Prints every target that both mates of a read hit, releasing each record's
// lists once printed. Returns false on a write error.
bool report(ReadTable& table, ReportWriter& out) {
  const auto touch = [](const elem& r) {
    fetch_lists(r);
    __builtin_prefetch(r.name);
  };
  const bool written = walk_ahead(table.index(), touch, [&](elem& r) {
    // Targets are distinct within a list: each of mate 1's has one partner at most.
    for (std::int32_t i = 0; i < r.n_hits1; ++i) {
      const std::int32_t j = find_target(r.hits2, r.n_hits2, r.hits1[i].target);
      if (j >= 0) out.line(r.name, r.hits1[i], r.hits2[j]);
    }
    free_elem(r, table.memory());
    return !out.failed();
  });
  if (!written) return false;
  table.lists_released();
  out.flush();
  return !out.failed();
}

const char kNotFound[] = "ERROR: Blast file not found\n";
const char kMallocFailed[] = "ERROR: problem with malloc allocation as occured\n";
const char kReallocFailed[] = "ERROR: problem with realloc allocation as occured\n";

void write_error_with_reason(int err_fd, const char* what, int error_number) {
  char text[256];
  std::snprintf(text, sizeof text, "ERROR: %s: %s\n", what, std::strerror(error_number));
  write_message(err_fd, text);
}

void write_skip_warning(int err_fd, const load_stats& stats) {
  char text[160];
  if (stats.skipped == 1) {
    std::snprintf(text, sizeof text,
                  "ERROR: 1 line without a complete hit was skipped, at line %llu\n",
                  stats.first_skipped);
  } else {
    std::snprintf(text, sizeof text,
                  "ERROR: %llu lines without a complete hit were skipped, the first at line %llu\n",
                  stats.skipped, stats.first_skipped);
  }
  write_message(err_fd, text);
}

int not_found(int err_fd) { return write_message(err_fd, kNotFound) ? 28 : 255; }

}  // namespace

int pairhits_run(int in_fd, int out_fd, int err_fd, std::size_t read_bytes) {
  load_stats stats;
  {
    ReadTable table;
    LineReader reader(in_fd, read_bytes, read_bytes);
    if (!table.ok() || !reader.ok()) {
      write_message(err_fd, kMallocFailed);
      return 1;
    }
    switch (parse_blast_alignment(reader, table, stats)) {
      case load_status::ok:
        break;
      case load_status::alloc_failed:
        write_message(err_fd, kMallocFailed);
        return 1;
      case load_status::realloc_failed:
        write_message(err_fd, kReallocFailed);
        return 1;
      case load_status::read_failed:
        write_error_with_reason(err_fd, "problem reading Blast file", stats.read_errno);
        return 1;
    }
    if (stats.skipped > 0) write_skip_warning(err_fd, stats);

    ReportWriter out(out_fd);
    if (!report(table, out)) {
      write_error_with_reason(err_fd, "problem writing the report", out.error_number());
      return 1;
    }
  }
  return 0;
}

int pairhits_main(int argc, const char* const* argv, int out_fd, int err_fd) {
  if (argc < 2 || argv[1] == nullptr) return not_found(err_fd);
  int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) return not_found(err_fd);
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return not_found(err_fd);
  }
  if (fd <= 2) {
    // A closed standard stream must not be aliased by the table: output
    // written to it would otherwise land in (or fail on) the input.
    int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    if (high < 0) return not_found(err_fd);
    fd = high;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  int status = pairhits_run(fd, out_fd, err_fd);
  ::close(fd);
  return status;
}

}  // namespace pairhits
