#include "line_scan.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "build_mode.h"
#include "field_masks.h"
#include "hit_splitter.h"

namespace pairhits {
namespace {

static_assert(kReadAhead >= kBlock, "a block may start at a line's last byte");

// Drops the lowest bit set in the 128-bit mask (lo, hi), if any.
inline void drop_lowest(std::uint64_t& lo, std::uint64_t& hi) {
  hi &= hi - static_cast<std::uint64_t>(lo == 0);
  lo &= lo - 1;
}

// The lowest bit set in (lo, hi); 128 when none.
inline int lowest(std::uint64_t lo, std::uint64_t hi) {
  return std::countr_zero(lo) + (lo == 0 ? std::countr_zero(hi) : 0);
}

// Fields 3, 7 and 9 of a complete line of `end` bytes, from where its
// fields start and end (a TAB after a non-TAB): field k starts at the k-th
// start, and ends at the k-th end or, the last field, at the line end.
inline void locate_values(std::uint64_t starts0, std::uint64_t starts1, std::uint64_t ends0, std::uint64_t ends1,
                          int end, value_offsets& v) {
  static_assert(kCol3Field < kCol7Field && kCol7Field < kTargetField);
  int dropped = 0;
  const auto field = [&](int k, std::uint8_t& start, std::uint8_t& stop) {
    for (; dropped < k; ++dropped) {
      drop_lowest(starts0, starts1);
      drop_lowest(ends0, ends1);
    }
    start = static_cast<std::uint8_t>(lowest(starts0, starts1));
    stop = static_cast<std::uint8_t>(std::min(lowest(ends0, ends1), end));
  };
  field(kCol3Field, v.col3_start, v.col3_end);
  field(kCol7Field, v.col7_start, v.col7_end);
  field(kTargetField, v.target_start, v.target_end);
}

// The common line, in one or two blocks from its start and with field 1
// ending in the first: scanned with no loop and few branches. False, with
// nothing changed, for any other line. `rest` bytes follow p in the view,
// the line's LF among them. With kLocate, a complete line's values are
// located too (its end, at most 127, fits their offsets).
template <typename Masks, bool kLocate>
inline bool scan_short_line(const char* p, std::size_t rest, std::int32_t& mate, scanned_line& o) {
  std::uint64_t tabs0 = Masks::of(p, '\t');
  std::uint64_t in0 = low_bits(rest);
  const std::uint64_t lf0 = Masks::of(p, '\n') & in0;
  std::uint64_t tabs1 = 0;
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
    tabs1 = Masks::of(q, '\t') & in1;
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
  move_mate(mate, one, two);
  o.size = static_cast<std::size_t>(end);
  const auto length1 = static_cast<std::size_t>(field1_end - field1_start);
  o.complete = is_complete(Masks::count(starts0) + Masks::count(starts1), length1,
                           ((Masks::of(p, '\0') & in0) | zeros1) != 0);
  o.name_start = o.complete ? o.start + static_cast<std::size_t>(field1_start) : 0;
  o.name_size = o.complete ? length1 - kMateSuffixBytes : 0;
  o.marked = one || two;
  o.mate = mate;
  o.values = value_offsets{};
  if (kLocate && o.complete) {
    const std::uint64_t ends0 = tabs0 & ~((tabs0 << 1) | 1);
    const std::uint64_t ends1 = tabs1 & ~((tabs1 << 1) | (tabs0 >> 63));
    locate_values(starts0, starts1, ends0, ends1, end, o.values);
  }
  return true;
}

// The plain build takes each line by the plain rule.
template <typename Masks, bool kLocate>
inline std::size_t scan_lines_with(padded_view lines, std::int32_t& mate, scanned_line* out,
                                   std::size_t max_out, std::size_t& consumed) {
  const char* text = lines.data();
  const std::size_t length = lines.size();
  std::size_t count = 0;
  std::size_t pos = 0;
  for (; count < max_out && pos < length; ++count) {
    scanned_line& o = out[count];
    o.start = pos;
    if (kPlainBuild || !scan_short_line<Masks, kLocate>(text + pos, length - pos, mate, o)) {
      // Long lines, and long first fields, by check_hit_line.
      const auto* lf = static_cast<const char*>(std::memchr(text + pos, '\n', length - pos));
      o.size = static_cast<std::size_t>(lf - (text + pos));
      hit_fields fields;
      o.complete = check_hit_line(lines.part(pos, o.size), fields, mate);
      o.name_start = o.complete ? static_cast<std::size_t>(fields.name.data() - text) : 0;
      o.name_size = o.complete ? fields.name.size() : 0;
      o.marked = o.complete && fields.marked;
      o.mate = mate;
      o.values = value_offsets{};
    }
    pos += o.size + 1;
  }
  consumed = pos;
  return count;
}

template <bool kLocate>
struct ScanLines {
  template <typename Masks>
  static std::size_t run(padded_view lines, std::int32_t* mate, scanned_line* out, std::size_t max_out,
                         std::size_t* consumed) {
    return scan_lines_with<Masks, kLocate>(lines, *mate, out, max_out, *consumed);
  }
};

}  // namespace

std::size_t scan_lines(padded_view lines, std::int32_t& mate, scanned_line* out, std::size_t max_out,
                       std::size_t& consumed, bool locate_values) {
  if constexpr (kPlainBuild) return scan_lines_with<NarrowMasks, false>(lines, mate, out, max_out, consumed);
  if (locate_values) return with_masks<ScanLines<true>>(lines, &mate, out, max_out, &consumed);
  return with_masks<ScanLines<false>>(lines, &mate, out, max_out, &consumed);
}

}  // namespace pairhits
