// The command line: options, and the tables it names, opened before any is
// read.
#pragma once

#include <cstddef>
#include <vector>

namespace pairhits {

struct command_line {
  enum class action { run, help, version, bad_option } what = action::run;
  const char* bad_option = nullptr;
  std::vector<const char*> paths;  // "-" is standard input
};

// -h/--help, -V/--version, "--" ends the options, "-" is a table; any other
// argument that starts with '-' is a bad option. The first of help, version
// or a bad option decides.
command_line parse_command_line(int argc, const char* const* argv);

// A whole number from 1 to `max`, written in decimal digits only; false
// for anything else ("0", "00", "abc", "+5", a number above max).
bool parse_count(const char* text, int max, int& value);

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

}  // namespace pairhits
