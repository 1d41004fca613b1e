#include "hit_splitter.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "build_mode.h"
#include "field_masks.h"

namespace pairhits {
namespace {

static_assert(kReadAhead >= kBlock, "a block may start at a line's last byte");

bool contains_mark(const char* field, std::size_t length, char digit) {
  const char* end = field + length;
  for (const char* p = field; p + 1 < end; ++p) {
    p = static_cast<const char*>(std::memchr(p, '/', static_cast<std::size_t>(end - 1 - p)));
    if (p == nullptr) return false;
    if (p[1] == digit) return true;
  }
  return false;
}

// Formats that need more fields than this take the plain rule.
constexpr int kMaskedFields = 32;
static_assert(kMaskedFields >= kFieldsNeeded);

// Where the first fields start and end, found 64 bytes at a time: a field
// starts at a non-TAB byte after a TAB (or at the line start) and ends at a
// TAB after a non-TAB. Also where the mate marks "/1" and "/2" start in the
// first block: bit i when bytes i and i + 1 are such a mark (one at byte 63
// is not seen; the caller then searches).
struct field_bounds {
  // Room for kMaskedFields fields and for every field of one more block, so
  // that the loops that fill them need not check the count at each field.
  std::size_t starts[kMaskedFields + kBlock];
  std::size_t ends[kMaskedFields + kBlock];
  int n_starts = 0;
  int n_ends = 0;
  bool has_zero = false;
  std::uint64_t slash_one = 0;
  std::uint64_t slash_two = 0;
};

// Finds where the first `needed` fields are (needed <= kKept). With kKept 1
// only field 1's bounds are kept; the others are only counted (n_starts,
// which may then pass `needed`).
template <int kKept, typename Masks>
inline void find_fields(padded_view line, field_bounds& f, int needed) {
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
    if constexpr (kKept > 1) {
      // A block holds at most kBlock fields: the counts stay within the arrays.
      if (f.n_starts < needed) {
        for (; field_starts != 0; field_starts &= field_starts - 1) {
          f.starts[f.n_starts++] = base + static_cast<std::size_t>(std::countr_zero(field_starts));
        }
      }
      if (f.n_ends < needed) {
        for (; field_ends != 0; field_ends &= field_ends - 1) {
          f.ends[f.n_ends++] = base + static_cast<std::size_t>(std::countr_zero(field_ends));
        }
      }
      enough = f.n_ends >= needed;  // the last field needed is complete
    } else {
      static_assert(kKept == 1);
      if (f.n_starts == 0 && field_starts != 0) f.starts[0] = base + static_cast<std::size_t>(std::countr_zero(field_starts));
      if (f.n_ends == 0 && field_ends != 0) {
        f.ends[0] = base + static_cast<std::size_t>(std::countr_zero(field_ends));
        f.n_ends = 1;
      }
      f.n_starts += Masks::count(field_starts);
      enough = f.n_starts >= needed && f.n_ends == 1;
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

// kNeeded: the fields needed, known when compiled (the default format's),
// or 0 for the run-time `needed` of another format.
template <int kKept, int kNeeded>
struct FindFields {
  template <typename Masks>
  static void run(padded_view line, field_bounds* f, int needed) {
    find_fields<kKept, Masks>(line, *f, kNeeded != 0 ? kNeeded : needed);
  }
};

template <int kKept>
void locate_fields(padded_view line, field_bounds& f) {
  with_masks<FindFields<kKept, kFieldsNeeded>>(line, &f, kFieldsNeeded);
}

void locate_fields_of(padded_view line, field_bounds& f, int needed) {
  with_masks<FindFields<kMaskedFields, 0>>(line, &f, needed);
}

// Sets the mate from the marks of field k (field 1 unless a format says
// otherwise); returns whether it had any.
inline bool update_mate(const char* text, const field_bounds& f, std::int32_t& mate, int k = kNameField) {
  const std::size_t start = f.starts[k];
  const std::size_t end = f.ends[k];
  bool one;
  bool two;
  if (end < kBlock) {
    // A mark at position p lies in the field when start <= p and p + 1 < end.
    const std::uint64_t in_field = ((std::uint64_t{1} << (end - 1)) - 1) >> start << start;
    one = (f.slash_one & in_field) != 0;
    two = (f.slash_two & in_field) != 0;
  } else {
    one = contains_mark(text + start, end - start, '1');
    two = contains_mark(text + start, end - start, '2');
  }
  move_mate(mate, one, two);
  return one || two;
}

// Finds the fields (the first kKept of them located), moves the mate, and
// tells whether the line is complete; if so, sets the name and `marked`.
template <int kKept>
[[gnu::always_inline]] inline bool complete_line_inlined(padded_view line, field_bounds& f, hit_fields& fields,
                                                         std::int32_t& mate) {
  locate_fields<kKept>(line, f);
  if (f.n_starts == 0) return false;
  const bool marked = update_mate(line.data(), f, mate);
  const std::size_t length1 = f.ends[0] - f.starts[0];
  if (!is_complete(f.n_starts, length1, f.has_zero)) return false;
  fields.name = line.part(f.starts[0], length1 - kMateSuffixBytes);
  fields.marked = marked;
  return true;
}

}  // namespace

namespace {
// The fields of a complete line other than its name, which is set already:
// the two values, field 8 (for the default-columns check) and the target.
// With `terminate`, a zero byte goes after each of them and after the name:
// each field is followed by a TAB or by the line's own terminating zero.
[[gnu::always_inline]] inline void take_fields(padded_view line, const field_bounds& f, int col3, int col7,
                                               int target, bool with_field8, bool terminate, hit_fields& fields) {
  const auto field = [&](int k) { return line.part(f.starts[k], f.ends[k] - f.starts[k]); };
  fields.col3 = field(col3);
  fields.col7 = field(col7);
  fields.field8 = with_field8 ? field(kField8) : padded_view();
  fields.target = field(target);
  if (terminate) {
    for (int k : {col3, col7, target}) line.data()[f.ends[k]] = '\0';
    fields.name.data()[fields.name.size()] = '\0';
  }
}

// The default format's split, inlined into split_hit_line, which the
// loader inlines in turn (a call per line, once split_hit_line had two
// callers, cost 2% of pairhits's instructions).
[[gnu::always_inline]] inline bool split_default(padded_view line, hit_fields& fields, std::int32_t& mate,
                                                 bool terminate) {
  if constexpr (kPlainBuild) return split_hit_line_plain(line, fields, mate, terminate);
  field_bounds f;
  if (!complete_line_inlined<kFieldsNeeded>(line, f, fields, mate)) return false;
  take_fields(line, f, kCol3Field, kCol7Field, kTargetField, true, terminate, fields);
  return true;
}
}  // namespace

bool split_hit_line(padded_view line, hit_fields& fields, std::int32_t& mate, bool terminate) {
  return split_default(line, fields, mate, terminate);
}

namespace {
// A format other than the default one, from the masks.
bool split_by_format(padded_view line, hit_fields& fields, std::int32_t& mate, const line_format& format,
                     bool terminate) {
  const int needed = format.fields_needed();
  field_bounds f;
  locate_fields_of(line, f, needed);
  const int q = format.name;
  if (format.rule != line_format::mates::anywhere) mate = format.fixed_mate_or_none();
  if (f.n_starts <= q) return false;
  const std::size_t field_bytes = f.ends[q] - f.starts[q];
  std::size_t name_bytes = field_bytes - kMateSuffixBytes;
  bool marked = true;
  if (format.rule == line_format::mates::anywhere) {
    marked = update_mate(line.data(), f, mate, q);
    if (!is_complete(f.n_starts, field_bytes, f.has_zero, needed)) return false;
  } else if (f.n_starts < needed || f.has_zero ||
             !name_by_mark(format, line.part(f.starts[q], field_bytes).text(), mate, name_bytes)) {
    return false;
  }
  fields.name = line.part(f.starts[q], name_bytes);
  fields.marked = marked;
  take_fields(line, f, format.col3, format.col7, format.target, needed > kField8, terminate, fields);
  return true;
}
}  // namespace

bool split_hit_line(padded_view line, hit_fields& fields, std::int32_t& mate, const line_format& format,
                    bool terminate) {
  if (format.is_default()) return split_default(line, fields, mate, terminate);
  if (kPlainBuild || format.fields_needed() > kMaskedFields) {
    return split_hit_line_plain(line, fields, mate, terminate, format);
  }
  return split_by_format(line, fields, mate, format, terminate);
}

bool check_hit_line(padded_view line, hit_fields& fields, std::int32_t& mate) {
  fields = hit_fields{};  // the fields other than the name stay empty
  if constexpr (kPlainBuild) {
    hit_fields all;
    if (!split_hit_line_plain(line, all, mate, false)) return false;
    fields.name = all.name;
    fields.marked = all.marked;
    return true;
  }
  field_bounds f;
  return complete_line_inlined<1>(line, f, fields, mate);
}

}  // namespace pairhits
