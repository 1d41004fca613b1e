// The options that choose how a run reads its lines, the same for pairhits,
// pairhits-split and pairhits-partitioned: -f/--fields, -m/--marks, and the
// tables of each mate, -1 TABLE and -2 TABLE.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "cli.h"
#include "line_rules.h"

namespace pairhits {

// The options that take a value, for parse_command_line: these and a
// program's own.
std::vector<std::string_view> valued_options(std::initializer_list<std::string_view> own = {});

struct run_options {
  line_format format;              // the fields and the marks; anywhere, or at_end with --marks
  std::vector<const char*> paths;  // the tables, in the order given
  std::vector<std::int32_t> mates; // each table's mate: 1 or 2 for -1 / -2, 0 for a table given alone
  bool by_table() const { return !mates.empty() && mates.front() != 0; }
  // The format of table k, and of every table in order.
  line_format format_of(std::size_t k) const;
  std::vector<line_format> formats() const;
};

// Reads the run options of `c` (its tables among them) into `options`.
// -1 when they are sound; otherwise writes the fault and returns 2.
int parse_run_options(const command_line& c, run_options& options, int err_fd);

}  // namespace pairhits
