// The command line: options, and the tables it names, opened before any is
// read.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

namespace pairhits {

struct command_line {
  enum class action { run, help, version, bad_option, missing_value } what = action::run;
  const char* bad_option = nullptr;  // the option at fault
  std::vector<const char*> paths;    // "-" is standard input
  std::vector<std::pair<std::string_view, const char*>> values;  // options given with a value, in order
};

// -h/--help, -V/--version, "--" ends the options, "-" is a table, the
// options named in `valued` take the next argument as their value; any
// other argument that starts with '-' is a bad option. The first of help,
// version or a faulty option decides.
command_line parse_command_line(int argc, const char* const* argv, const std::vector<std::string_view>& valued = {});

// For a command line that does not run: prints the usage or the version
// line of `program` on out_fd, or the fault on err_fd, and returns the exit
// status (0, or 2 for a fault). -1 for a command line that runs.
int answer_without_running(const command_line& c, const char* program, const char* usage, int out_fd, int err_fd);

// "ERROR: WHAT: REASON" on err_fd for a command line at fault; returns
// its exit status, 2.
int usage_error(int err_fd, const char* what, const char* reason);

// A whole number from 1 to `max`, written in decimal digits only; false
// for anything else ("0", "00", "abc", "+5", a number above max).
bool parse_count(const char* text, int max, int& value);

// The processors this process may run on (its CPU affinity), at least 1.
int usable_processors();

// How many more files the process may open at once, `wanted` being what it
// would like: the soft descriptor limit is raised toward `wanted` (up to the
// hard limit), and some are kept for the standard streams, the tables and
// the libraries.
std::size_t openable_descriptors(std::size_t wanted);

// An open table: its name as given and its descriptor.
struct table_input {
  const char* name;
  int fd;
};

// The tables of a run, each open; closes what it opened.
class OpenTables {
 public:
  OpenTables() = default;
  ~OpenTables();
  OpenTables(const OpenTables&) = delete;
  OpenTables& operator=(const OpenTables&) = delete;

  // Opens a table for reading; false if it cannot be opened or is a directory.
  bool open(const char* path);

  const table_input* data() const { return tables_.data(); }
  std::size_t size() const { return tables_.size(); }
  // The sum of the tables' sizes, or 0 if one of them is not a regular file.
  unsigned long long total_bytes() const { return all_sized_ ? total_ : 0; }

 private:
  std::vector<table_input> tables_;
  unsigned long long total_ = 0;
  bool all_sized_ = true;
};

// Opens every table of `paths` into `tables`. -1 when all are open;
// otherwise, for no table or one that cannot be opened, writes the
// not-found message (naming the table when there are several) and returns
// its exit status.
int open_tables(const std::vector<const char*>& paths, OpenTables& tables, int err_fd);

}  // namespace pairhits
