// Splitting tables into part tables by a hash of the read name, so that
// each part can be paired on its own, in less memory, and the parts'
// reports merged by name give the report of one run over all the tables.
//
// Each part gets the complete hit lines of its read names, in table order,
// with LF line ends. A line without a mate mark carries the mate of the
// line before it in the whole table, which in its part may be another: a
// quiet mate line (split_layout.h) is put before it then, and at the end of
// each part, so that the part's next table (the same part of the next
// chunk) starts with the mate the whole table ended with. Incomplete lines
// are left out: their counts, and all the counts behind the messages, go
// into the stats file.
#pragma once

#include <csignal>
#include <cstddef>
#include <string>

#include "cli.h"
#include "line_rules.h"

namespace pairhits {

// Splits the open tables, each read by its format, into `parts` part tables
// and a stats file in the existing folder `dir` (split_layout.h).
// Returns the exit status, with its message written on `err_fd`; stops
// early with status -1 once *stop is set.
int split_tables(const table_input* tables, const line_format* formats, std::size_t count, const std::string& dir,
                 int parts, int err_fd, const volatile std::sig_atomic_t* stop = nullptr);

}  // namespace pairhits
