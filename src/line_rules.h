// The rules of a hit line, stated once: where its fields are, whether it is
// complete, and what its mate is. Every way of reading lines (the run, the
// split's scan of many lines at once, the plain build) takes its verdict
// from these rules; split_hit_line_plain states them byte by byte, and the
// faster ways in hit_splitter.h and line_scan.h are held to it by their
// tests.
//
// - Fields are maximal runs of bytes other than TAB, numbered from 1: a run
//   of TABs is one separator, and TABs at either end of the line start no
//   field. A zero byte is a byte like any other here.
// - Field 1 moves the mate, whenever the line has a field 1, complete or
//   not: to 1 if it holds "/1" anywhere, then to 2 if it holds "/2"
//   anywhere. A field 1 with neither leaves the mate as the line before
//   left it (0 before any line named one).
// - A line is complete when it has at least nine fields, a field 1 of at
//   least two bytes, and no zero byte anywhere. Its read name is field 1
//   less its last two bytes, whatever they are; fields 3 and 7 are its two
//   numbers and field 9 its target. Fields past the ninth are never looked
//   at (but for the default-columns check below).
//
// Options change three of these rules, and only these (line_format): which
// fields are the name, the two numbers and the target (a line then needs as
// many fields as the largest of them); and how a line tells its mate, by a
// mark that ends the name field (--marks), or by its table (-1 / -2).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "read_ahead.h"

namespace pairhits {

inline constexpr char kFieldSeparator = '\t';
inline constexpr int kFieldsNeeded = 9;
// Fields by their index from 0.
inline constexpr int kNameField = 0;
inline constexpr int kCol3Field = 2;
inline constexpr int kCol7Field = 6;
inline constexpr int kField8 = 7;
inline constexpr int kTargetField = 8;
inline constexpr std::size_t kMateSuffixBytes = 2;
// --fields std: identity, e-value and subject in the 12 default columns of
// BLAST, DIAMOND and MMseqs2.
inline constexpr char kStdFields[] = "1,3,11,2";

// Moves the mate for a field 1 that holds "/1" (holds_one) or "/2"
// (holds_two); stored only when it changes.
inline void move_mate(std::int32_t& mate, bool holds_one, bool holds_two) {
  if (holds_one) mate = 1;
  if (holds_two) mate = 2;
}

// Whether a line with `fields` fields, a field 1 of `field1_bytes` bytes,
// and a zero byte or none, is complete (with `needed` fields chosen by
// line_format, the name field for field 1).
inline bool is_complete(int fields, std::size_t field1_bytes, bool has_zero, int needed = kFieldsNeeded) {
  return fields >= needed && field1_bytes >= kMateSuffixBytes && !has_zero;
}

// What a complete line gives, as views into it.
struct hit_fields {
  padded_view name;    // field 1 less its mate suffix
  padded_view col3;
  padded_view col7;
  padded_view field8;  // for the default-columns check; not zero-terminated
  padded_view target;
  bool marked;         // whether field 1 holds "/1" or "/2"
};

// How a run reads its lines.
struct line_format {
  // How a line tells its mate: by "/1" or "/2" anywhere in the name field,
  // the mate carried from line to line (the rules above); by a mark that
  // ends the name field, mate 1's or mate 2's, the name being the field
  // less it (a field that ends in neither, or is nothing but the mark, makes
  // the line incomplete); or by its table, every line of mate `fixed_mate`,
  // the name being the field less a final mark of that mate.
  enum class mates { anywhere, at_end, by_table };

  // The fields, by index from 0.
  int name = kNameField;
  int col3 = kCol3Field;
  int col7 = kCol7Field;
  int target = kTargetField;
  mates rule = mates::anywhere;
  std::string mark1 = "/1";
  std::string mark2 = "/2";
  std::int32_t fixed_mate = 0;
  // Whether the default-columns check runs: not when the fields or the
  // marks were chosen.
  bool check_columns = true;
  // Whether the first "# Fields:" header is checked against the fields
  // read: when any option was given.
  bool check_header = false;

  int fields_needed() const;
  // The mate of a line before its name field is read: the table's, or none.
  std::int32_t fixed_mate_or_none() const { return rule == mates::by_table ? fixed_mate : 0; }
  // Whether the fields are 1, 3, 7 and 9; and whether, besides, the mate
  // is told by "/1" or "/2" anywhere.
  bool default_fields() const {
    return name == kNameField && col3 == kCol3Field && col7 == kCol7Field && target == kTargetField;
  }
  bool is_default() const { return rule == mates::anywhere && default_fields(); }
};

// The rules, byte by byte: true for a complete line, whose fields are then
// in `fields`; `mate` moves as field 1 says. With `terminate`, a zero byte
// is written after the name and fields 3, 7 and 9 (over the TAB or the
// mate suffix after them), so the line's own text is not usable afterwards;
// without, the line is left as it was.
bool split_hit_line_plain(padded_view line, hit_fields& fields, std::int32_t& mate, bool terminate = true);
// The same under `format`.
bool split_hit_line_plain(padded_view line, hit_fields& fields, std::int32_t& mate, bool terminate,
                          const line_format& format);

// The name's length within a name field of `field`, and the mate, under a
// format's rule other than `anywhere`; false when the field makes the line
// incomplete.
bool name_by_mark(const line_format& format, std::string_view field, std::int32_t& mate, std::size_t& name_bytes);

// Whether a complete line, split into `fields`, has the shape of BLAST's
// default tabular columns: exactly 12 fields, and fields 7 to 10 (query
// and subject start and end) whole numbers. Field 9 is then a position,
// not a target.
bool has_default_outfmt6_shape(padded_view line, const hit_fields& fields);

}  // namespace pairhits
