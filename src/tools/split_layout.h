// The folder a split writes, as the split, the part runner, the merge and
// the workflow all read it: DIR/part-NNNN.tsv (numbered from 0), the part
// reports DIR/part-NNNN.out beside them, and DIR/stats.
//
// A part table holds complete hit lines and, where a line without a mate
// mark would otherwise carry another mate in its part than in the whole
// table, a quiet mate line ("#/1" or "#/2"): a comment, so neither counted
// nor kept, whose name field names the mate.
//
// With the run options, the parts are read with the same --fields. Lines
// whose mate is their mark (--marks) are kept as they are. Lines whose mate
// is their table's (-1 / -2) get that mate's mark at the end of the name
// field where they do not end in it already, and the parts of both are read
// with --marks: the name and the mate come out as in the tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "line_rules.h"
#include "program_limits.h"
#include "run_options.h"

namespace pairhits {

// The path of part `part` (from 0) and of the stats file in `dir`.
std::string part_path(const std::string& dir, int part, const char* suffix = ".tsv");
std::string stats_path(const std::string& dir);

// The quiet line that sets the mate to 1 or 2 under `format`, without its
// LF: "#/1" when the name is field 1; otherwise as many fields as reach the
// name field, and a zero byte at the end where that many would be complete.
std::string mate_line(std::int32_t mate, const line_format& format);

// The options a pairhits run on the parts of a split with `options` takes,
// besides the part tables.
std::vector<std::string> part_run_options(const run_options& options);

// Whether the `n` bytes at `text`, the start of a part table, hold a line
// other than a mate line: every line a split writes that starts with '#'
// is one.
bool holds_hit_line(const char* text, std::size_t n);

}  // namespace pairhits
