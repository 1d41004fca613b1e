// Many lines at once: each line's verdict, name and mate, as check_hit_line
// gives them, and on request where its values are, from the masks of the
// blocks at its start (field_masks.h). The split and the threaded load
// read lines this way.
#pragma once

#include <cstddef>
#include <cstdint>

#include "read_ahead.h"

namespace pairhits {

// Where fields 3, 7 and 9 of a complete line lie, in bytes from its start,
// when they were located; all zero when not.
struct value_offsets {
  std::uint8_t col3_start = 0;
  std::uint8_t col3_end = 0;
  std::uint8_t col7_start = 0;
  std::uint8_t col7_end = 0;
  std::uint8_t target_start = 0;
  std::uint8_t target_end = 0;
  // Field 9 never ends at byte 0 of a complete line.
  bool located() const { return target_end != 0; }
};

// A line that scan_lines found, by offsets into the lines it was given.
struct scanned_line {
  std::size_t start;
  std::size_t size;        // without its LF
  std::size_t name_start;  // the name, when complete (as check_hit_line gives it)
  std::size_t name_size;
  std::int32_t mate;       // the mate after the line
  bool complete;
  bool marked;
  value_offsets values;    // with `locate_values`, of the complete lines taken from the masks
};

// check_hit_line's verdict, name, `marked` and mate for each of the lines
// in `lines`, which must all end in LF and hold no CR (LineReader::read_lines
// gives such views), from the first, at most `max_out` of them. Returns how
// many were scanned, with `consumed` set to the bytes they take. A line of
// up to 127 bytes whose field 1 ends in its first 64 is taken from the
// masks of one or two blocks at its start, its end among them: no search
// for the end first, and no loop over fields or blocks. With
// `locate_values`, such a line's fields 3, 7 and 9 are located from the same
// masks (the plain build locates none).
std::size_t scan_lines(padded_view lines, std::int32_t& mate, scanned_line* out, std::size_t max_out,
                       std::size_t& consumed, bool locate_values = false);

}  // namespace pairhits
