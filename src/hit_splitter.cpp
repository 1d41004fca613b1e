#include "hit_splitter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// 256-bit compares where GCC or Clang can build them for x86-64 and the
// 128-bit ones are on.
#if defined(__SSE2__) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PAIRHITS_WIDE_MASKS 1
#include <immintrin.h>
#endif

namespace pairhits {
namespace {

constexpr std::size_t kBlock = 64;  // bytes looked at in one step, one bit each in a mask
static_assert(kReadAhead >= kBlock, "a block may start at a line's last byte");

constexpr int kWanted = 9;  // fields needed; the rest of a line is not split

// Bits set in x, without the library call that std::popcount becomes on
// x86-64 processors that may lack the instruction.
inline int bits_set(std::uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555;
  x = (x & 0x3333333333333333) + ((x >> 2) & 0x3333333333333333);
  x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0f;
  return static_cast<int>((x * 0x0101010101010101) >> 56);
}

// The low n bits, all of them from n = 64 on.
inline std::uint64_t low_bits(std::size_t n) { return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1; }

// Where byte value c lies among the 64 bytes at p: bit i of of(p, c) is set
// when byte i equals c. One value per call keeps the mask in a register (an
// array of masks filled in a loop went through memory). These take 128
// bits at a time, as every x86-64 processor can.
struct NarrowMasks {
  static std::uint64_t of(const char* p, char c) {
#if defined(__SSE2__)
    const __m128i needle = _mm_set1_epi8(c);
    std::uint64_t mask = 0;
    for (int k = 0; k < 4; ++k) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
      mask |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, needle)))} << (16 * k);
    }
    return mask;
#else
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < kBlock; ++i) mask |= std::uint64_t{p[i] == c} << i;
    return mask;
#endif
  }
  static int count(std::uint64_t x) { return bits_set(x); }
};

#if PAIRHITS_WIDE_MASKS
// The same 256 bits at a time, on processors with AVX2, BMI1 and POPCNT
// (chosen at run time; every AVX2 processor has the other two): a third
// fewer instructions for pairhits-split, a sixteenth for pairhits. BMI1's
// single-instruction lowest-bit clear and count make taking the fields out
// of the masks cheaper too.
#define PAIRHITS_WIDE_TARGET "avx2,bmi,popcnt"
struct WideMasks {
  [[gnu::target(PAIRHITS_WIDE_TARGET)]] static std::uint64_t of(const char* p, char c) {
    const __m256i needle = _mm256_set1_epi8(c);
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    const auto low_half = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, needle)));
    const auto high_half = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, needle)));
    return std::uint64_t{low_half} | (std::uint64_t{high_half} << 32);
  }
  [[gnu::target(PAIRHITS_WIDE_TARGET)]] static int count(std::uint64_t x) { return __builtin_popcountll(x); }
};

bool wide_masks_allowed = true;

bool has_wide_masks() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt");
}
const bool kHasWideMasks = has_wide_masks();
#endif

bool contains_mark(const char* field, std::size_t length, char digit) {
  const char* end = field + length;
  for (const char* p = field; p + 1 < end; ++p) {
    p = static_cast<const char*>(std::memchr(p, '/', static_cast<std::size_t>(end - 1 - p)));
    if (p == nullptr) return false;
    if (p[1] == digit) return true;
  }
  return false;
}

// Where the first fields start and end, found 64 bytes at a time: a field
// starts at a non-TAB byte after a TAB (or at the line start) and ends at a
// TAB after a non-TAB. Also where the mate marks "/1" and "/2" start in the
// first block: bit i when bytes i and i + 1 are such a mark (one at byte 63
// is not seen; the caller then searches).
struct field_bounds {
  // Room for kWanted fields and for every field of one more block, so that
  // the loops that fill them need not check the count at each field.
  std::size_t starts[kWanted + kBlock];
  std::size_t ends[kWanted + kBlock];
  int n_starts = 0;
  int n_ends = 0;
  bool has_zero = false;
  std::uint64_t slash_one = 0;
  std::uint64_t slash_two = 0;
};

// With kKept < kWanted only the first kKept fields' bounds are kept; the
// others are only counted (n_starts, which may then pass kWanted).
template <int kKept, typename Masks>
inline void find_fields(padded_view line, field_bounds& f) {
  const char* text = line.data();
  const std::size_t length = line.size();
  std::uint64_t tab_before = 1;  // the line start counts as a TAB
  for (std::size_t base = 0; base < length; base += kBlock) {
    const std::size_t n = std::min(kBlock, length - base);
    const std::uint64_t valid = low_bits(n);
    const std::uint64_t all_tabs = Masks::of(text + base, '\t');
    const std::uint64_t zeros = Masks::of(text + base, '\0');
    if (base == 0) {
      const std::uint64_t slashes = Masks::of(text, '/');
      f.slash_one = slashes & (Masks::of(text, '1') >> 1);
      f.slash_two = slashes & (Masks::of(text, '2') >> 1);
    }
    const std::uint64_t tabs = all_tabs & valid;
    f.has_zero = f.has_zero || (zeros & valid) != 0;
    const std::uint64_t after_tab = (tabs << 1) | tab_before;
    std::uint64_t field_starts = ~tabs & after_tab & valid;
    std::uint64_t field_ends = tabs & ~after_tab;
    tab_before = tabs >> 63;
    bool enough;
    if constexpr (kKept == kWanted) {
      // A block holds at most kBlock fields: the counts stay within the arrays.
      if (f.n_starts < kWanted) {
        for (; field_starts != 0; field_starts &= field_starts - 1) {
          f.starts[f.n_starts++] = base + static_cast<std::size_t>(std::countr_zero(field_starts));
        }
      }
      if (f.n_ends < kWanted) {
        for (; field_ends != 0; field_ends &= field_ends - 1) {
          f.ends[f.n_ends++] = base + static_cast<std::size_t>(std::countr_zero(field_ends));
        }
      }
      enough = f.n_ends >= kWanted;  // field 9 is complete
    } else {
      static_assert(kKept == 1);
      if (f.n_starts == 0 && field_starts != 0) f.starts[0] = base + static_cast<std::size_t>(std::countr_zero(field_starts));
      if (f.n_ends == 0 && field_ends != 0) {
        f.ends[0] = base + static_cast<std::size_t>(std::countr_zero(field_ends));
        f.n_ends = 1;
      }
      f.n_starts += Masks::count(field_starts);
      enough = f.n_starts >= kWanted && f.n_ends == 1;
    }
    if (enough) {
      // The rest of the line matters only if it holds a zero byte.
      const std::size_t rest = base + kBlock;
      f.has_zero = f.has_zero || (rest < length && std::memchr(text + rest, '\0', length - rest) != nullptr);
      return;
    }
  }
  // The last field runs to the line end.
  for (int k = f.n_ends; k < std::min(f.n_starts, kKept); ++k) f.ends[k] = length;
}

#if PAIRHITS_WIDE_MASKS
// Built for the wide target as a whole, so that the wide masks are inlined.
template <int kKept>
[[gnu::target(PAIRHITS_WIDE_TARGET), gnu::flatten]] void find_fields_wide(padded_view line, field_bounds& f) {
  find_fields<kKept, WideMasks>(line, f);
}
#endif

template <int kKept>
void locate_fields(padded_view line, field_bounds& f) {
#if PAIRHITS_WIDE_MASKS
  if (kHasWideMasks && wide_masks_allowed) return find_fields_wide<kKept>(line, f);
#endif
  find_fields<kKept, NarrowMasks>(line, f);
}

// Sets the mate from field 1's marks; returns whether it had any.
bool update_mate(const char* text, const field_bounds& f, std::int32_t& mate) {
  const std::size_t start = f.starts[0];
  const std::size_t end = f.ends[0];
  bool one;
  bool two;
  if (end < kBlock) {
    // A mark at position p lies in field 1 when start <= p and p + 1 < end.
    const std::uint64_t in_field = ((std::uint64_t{1} << (end - 1)) - 1) >> start << start;
    one = (f.slash_one & in_field) != 0;
    two = (f.slash_two & in_field) != 0;
  } else {
    one = contains_mark(text + start, end - start, '1');
    two = contains_mark(text + start, end - start, '2');
  }
  if (one) mate = 1;
  if (two) mate = 2;
  return one || two;
}

bool all_digits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return !text.empty();
}

}  // namespace

namespace {
// Finds the fields (the first kKept of them located), moves the mate, and
// tells whether the line is complete; if so, sets the name and `marked`.
template <int kKept>
bool complete_line(padded_view line, field_bounds& f, hit_fields& fields, std::int32_t& mate) {
  locate_fields<kKept>(line, f);
  if (f.n_starts == 0) return false;
  const bool marked = update_mate(line.data(), f, mate);
  const std::size_t length1 = f.ends[0] - f.starts[0];
  if (f.n_starts < kWanted || length1 < 2 || f.has_zero) return false;
  fields.name = line.part(f.starts[0], length1 - 2);
  fields.marked = marked;
  return true;
}
}  // namespace

bool split_hit_line(padded_view line, hit_fields& fields, std::int32_t& mate, bool terminate) {
  field_bounds f;
  if (!complete_line<kWanted>(line, f, fields, mate)) return false;
  // Each field is followed by a TAB or by the line's own terminating zero.
  if (terminate) {
    char* text = line.data();
    for (int k : {2, 6, 8}) text[f.ends[k]] = '\0';
    text[f.ends[0] - 2] = '\0';
  }
  fields.col3 = line.part(f.starts[2], f.ends[2] - f.starts[2]);
  fields.col7 = line.part(f.starts[6], f.ends[6] - f.starts[6]);
  fields.field8 = line.part(f.starts[7], f.ends[7] - f.starts[7]);
  fields.target = line.part(f.starts[8], f.ends[8] - f.starts[8]);
  return true;
}

bool check_hit_line(padded_view line, hit_fields& fields, std::int32_t& mate) {
  field_bounds f;
  fields = hit_fields{};  // the fields other than the name stay empty
  return complete_line<1>(line, f, fields, mate);
}

namespace {

// The common line, in one or two blocks from its start and with field 1
// ending in the first: scanned with no loop and few branches. False, with
// nothing changed, for any other line. `rest` bytes follow p in the view,
// the line's LF among them.
template <typename Masks>
inline bool scan_short_line(const char* p, std::size_t rest, std::int32_t& mate, scanned_line& o) {
  std::uint64_t tabs0 = Masks::of(p, '\t');
  std::uint64_t in0 = low_bits(rest);
  const std::uint64_t lf0 = Masks::of(p, '\n') & in0;
  std::uint64_t starts1 = 0;
  std::uint64_t zeros1 = 0;
  int end;
  if (lf0 != 0) {
    end = std::countr_zero(lf0);
    in0 = low_bits(static_cast<std::size_t>(end));
    tabs0 &= in0;
  } else {
    // The LF lies past the first block, so the second is inside the view.
    const char* q = p + kBlock;
    const std::uint64_t lf1 = Masks::of(q, '\n') & low_bits(rest - kBlock);
    if (lf1 == 0) return false;
    end = static_cast<int>(kBlock) + std::countr_zero(lf1);
    const std::uint64_t in1 = low_bits(static_cast<std::size_t>(end) - kBlock);
    const std::uint64_t tabs1 = Masks::of(q, '\t') & in1;
    starts1 = ~tabs1 & ((tabs1 << 1) | (tabs0 >> 63)) & in1;
    zeros1 = Masks::of(q, '\0') & in1;
  }
  const std::uint64_t starts0 = ~tabs0 & ((tabs0 << 1) | 1) & in0;
  int field1_start = -1;
  int field1_end = -1;
  bool one = false;
  bool two = false;
  if (starts0 != 0) {
    field1_start = std::countr_zero(starts0);
    const std::uint64_t after = tabs0 & (~std::uint64_t{0} << field1_start);
    if (after != 0) {
      field1_end = std::countr_zero(after);
    } else if (lf0 != 0) {
      field1_end = end;
    } else {
      return false;  // field 1 goes on into the second block
    }
    // A mark's digit is in field 1 whenever its slash is: the digit is
    // neither TAB nor LF.
    const std::uint64_t slashes =
        Masks::of(p, '/') & low_bits(static_cast<std::size_t>(field1_end)) & (~std::uint64_t{0} << field1_start);
    one = (slashes & Masks::of(p + 1, '1')) != 0;
    two = (slashes & Masks::of(p + 1, '2')) != 0;
  } else if (starts1 != 0) {
    return false;  // field 1 starts in the second block
  }
  if (one) mate = 1;
  if (two) mate = 2;
  o.size = static_cast<std::size_t>(end);
  o.complete = Masks::count(starts0) + Masks::count(starts1) >= kWanted && field1_end - field1_start >= 2 &&
               ((Masks::of(p, '\0') & in0) | zeros1) == 0;
  o.name_start = o.complete ? o.start + static_cast<std::size_t>(field1_start) : 0;
  o.name_size = o.complete ? static_cast<std::size_t>(field1_end - field1_start - 2) : 0;
  o.marked = one || two;
  o.mate = mate;
  return true;
}

template <typename Masks>
inline std::size_t scan_lines_with(padded_view lines, std::int32_t& mate, scanned_line* out,
                                   std::size_t max_out, std::size_t& consumed) {
  const char* text = lines.data();
  const std::size_t length = lines.size();
  std::size_t count = 0;
  std::size_t pos = 0;
  for (; count < max_out && pos < length; ++count) {
    scanned_line& o = out[count];
    o.start = pos;
    if (!scan_short_line<Masks>(text + pos, length - pos, mate, o)) {
      // Long lines, and long first fields, the way check_hit_line goes.
      const auto* lf = static_cast<const char*>(std::memchr(text + pos, '\n', length - pos));
      o.size = static_cast<std::size_t>(lf - (text + pos));
      field_bounds f;
      hit_fields fields;
      o.complete = complete_line<1>(lines.part(pos, o.size), f, fields, mate);
      o.name_start = o.complete ? static_cast<std::size_t>(fields.name.data() - text) : 0;
      o.name_size = o.complete ? fields.name.size() : 0;
      o.marked = o.complete && fields.marked;
      o.mate = mate;
    }
    pos += o.size + 1;
  }
  consumed = pos;
  return count;
}

#if PAIRHITS_WIDE_MASKS
[[gnu::target(PAIRHITS_WIDE_TARGET), gnu::flatten]] std::size_t scan_lines_wide(
    padded_view lines, std::int32_t& mate, scanned_line* out, std::size_t max_out, std::size_t& consumed) {
  return scan_lines_with<WideMasks>(lines, mate, out, max_out, consumed);
}
#endif

}  // namespace

std::size_t scan_lines(padded_view lines, std::int32_t& mate, scanned_line* out, std::size_t max_out,
                       std::size_t& consumed) {
#if PAIRHITS_WIDE_MASKS
  if (kHasWideMasks && wide_masks_allowed) return scan_lines_wide(lines, mate, out, max_out, consumed);
#endif
  return scan_lines_with<NarrowMasks>(lines, mate, out, max_out, consumed);
}

bool use_wide_masks(bool allowed) {
#if PAIRHITS_WIDE_MASKS
  wide_masks_allowed = allowed;
  return allowed && kHasWideMasks;
#else
  (void)allowed;
  return false;
#endif
}

bool has_default_outfmt6_shape(padded_view line, const hit_fields& fields) {
  if (!all_digits(fields.col7.text()) || !all_digits(fields.field8.text()) || !all_digits(fields.target.text())) {
    return false;
  }
  // Fields 10 to 12 follow field 9's end (a TAB, or a zero the splitter wrote over it).
  const char* p = fields.target.data() + fields.target.size() + 1;
  const char* end = line.data() + line.size();
  int more = 0;
  bool field10_whole = false;
  while (p < end) {
    while (p < end && *p == '\t') ++p;
    const char* start = p;
    while (p < end && *p != '\t') ++p;
    if (p == start) break;
    if (++more == 1) field10_whole = all_digits(std::string_view(start, static_cast<std::size_t>(p - start)));
  }
  return more == 3 && field10_whole;
}

}  // namespace pairhits
