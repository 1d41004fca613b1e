// The folder a split writes, as the split, the part runner, the merge and
// the workflow all read it: DIR/part-NNNN.tsv (numbered from 0), the part
// reports DIR/part-NNNN.out beside them, and DIR/stats.
//
// A part table holds complete hit lines and, where a line without a mate
// mark would otherwise carry another mate in its part than in the whole
// table, a quiet mate line ("#/1" or "#/2"): a comment, so neither counted
// nor kept, whose field 1 names the mate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "program_limits.h"

namespace pairhits {

// The path of part `part` (from 0) and of the stats file in `dir`.
std::string part_path(const std::string& dir, int part, const char* suffix = ".tsv");
std::string stats_path(const std::string& dir);

// The quiet line that sets the mate to 1 or 2, without its LF.
inline constexpr std::size_t kMateLineBytes = 3;
const char* mate_line(std::int32_t mate);

// Whether the `n` bytes at `text`, the start of a part table, hold a line
// other than a mate line: every line a split writes that starts with '#'
// is one.
bool holds_hit_line(const char* text, std::size_t n);

}  // namespace pairhits
