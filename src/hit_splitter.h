// The field splitter: cuts a hit line at TABs, in place, in one pass.
//
// Fields are maximal runs of non-TAB bytes, numbered from 1. Field 1 sets
// `mate` to 1 if it contains "/1" and then to 2 if it contains "/2";
// otherwise mate keeps its value. This happens whenever the line has a
// field 1, even if the line turns out incomplete.
//
// A line is complete when it has at least nine fields, a field 1 of at least
// two bytes and no zero byte. For a complete line the splitter gives the
// read name (field 1 less its last two bytes), fields 3 and 7, and the
// target (field 9), each as a view into the line followed by a zero byte
// that the splitter wrote over the byte after it: the line's own text is not
// usable afterwards.
#pragma once

#include <cstdint>

#include "read_ahead.h"

namespace pairhits {

struct hit_fields {
  padded_view name;
  padded_view col3;
  padded_view col7;
  padded_view field8;  // not zero-terminated
  padded_view target;
  bool marked;         // whether field 1 holds "/1" or "/2"
};

// True for a complete line, whose fields are then in `fields`. With
// `terminate` false the line is left as it was, and the fields are views
// without a zero byte after them.
bool split_hit_line(padded_view line, hit_fields& fields, std::int32_t& mate, bool terminate = true);

// The same verdict and mate as split_hit_line, leaving the line as it was,
// but only the name and `marked` are set (the other fields are empty): the
// fields after the first are counted, not located.
bool check_hit_line(padded_view line, hit_fields& fields, std::int32_t& mate);

// A line that scan_lines found, by offsets into the lines it was given.
struct scanned_line {
  std::size_t start;
  std::size_t size;        // without its LF
  std::size_t name_start;  // the name, when complete (as check_hit_line gives it)
  std::size_t name_size;
  std::int32_t mate;       // the mate after the line
  bool complete;
  bool marked;
};

// check_hit_line's verdict, name, `marked` and mate for each of the lines
// in `lines`, which must all end in LF and hold no CR (LineReader::read_lines
// gives such views), from the first, at most `max_out` of them. Returns how
// many were scanned, with `consumed` set to the bytes they take. A line of
// up to 127 bytes whose field 1 ends in its first 64 is taken from the
// masks of one or two blocks at its start, its end among them: no search
// for the end first, and no loop over fields or blocks.
std::size_t scan_lines(padded_view lines, std::int32_t& mate, scanned_line* out, std::size_t max_out,
                       std::size_t& consumed);

// Whether the splitter may compare 256 bits at a time on processors that
// can (AVX2); it may unless told otherwise. Returns whether it now does.
// Tests turn it off to check the 128-bit way on such processors.
bool use_wide_masks(bool allowed);

// Whether a complete line, split into `fields`, has the shape of BLAST's
// default tabular columns: exactly 12 fields, and fields 7 to 10 (query
// and subject start and end) whole numbers. Field 9 is then a position,
// not a target.
bool has_default_outfmt6_shape(padded_view line, const hit_fields& fields);

}  // namespace pairhits
