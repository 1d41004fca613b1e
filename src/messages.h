// What the program says: its fixed error messages, the warnings after a
// load, and the usage and version texts. Every message is one line on
// standard error beginning "ERROR: ".
#pragma once

#include "loader.h"

namespace pairhits {

// A table that cannot be opened (or none given): status 28, or 255 if even
// the message cannot be written. `path` is named when not null.
int not_found(int err_fd, const char* path);

void write_malloc_failed(int err_fd);
void write_realloc_failed(int err_fd);
// "ERROR: WHAT: REASON"
void write_error_with_reason(int err_fd, const char* what, const char* reason);

// The message for a load that ended with an allocation or read failure.
void write_load_failure(int err_fd, load_status status, const load_stats& stats);

// The skipped-lines message, naming the table of the first skipped line
// when `table_names` is not null.
void write_skip_warning(int err_fd, const load_stats& stats, const char* const* table_names);

// One line for each reason the load can see why the report will be empty
// or wrong: names without mate marks, one mate only, BLAST's default
// columns, nothing that reads as a hit line.
void write_load_warnings(int err_fd, const load_stats& stats);

// The usage text of pairhits.
const char* usage_text();

}  // namespace pairhits
