// pairhits-split: splits hit tables into part tables by read name, for
// pairhits runs on each part whose reports pairhits-merge puts together.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "cli.h"
#include "messages.h"
#include "part_split.h"
#include "program_limits.h"
#include "programs.h"
#include "run_options.h"

namespace pairhits {

int pairhits_split_main(int argc, const char* const* argv, int out_fd, int err_fd) {
  const command_line c = parse_command_line(argc, argv, valued_options({"-n", "-o"}));
  const std::string usage = split_usage_text();
  if (const int status = answer_without_running(c, "pairhits-split", usage.c_str(), out_fd, err_fd); status >= 0) {
    return status;
  }
  int parts = 0;
  const char* dir = nullptr;
  for (const auto& [option, value] : c.values) {
    if (option == "-o") {
      dir = value;
    } else if (option == "-n" && !parse_count(value, kMaxParts, parts)) {
      return usage_error(err_fd, count_range_text("PARTS", kMaxParts).c_str(), value);
    }
  }
  run_options options;
  if (const int status = parse_run_options(c, options, err_fd); status >= 0) return status;
  if (parts == 0 || dir == nullptr) return usage_error(err_fd, "usage", kSplitUsageLine);
  OpenTables tables;
  if (const int status = open_tables(options.paths, tables, err_fd); status >= 0) return status;
  if (::mkdir(dir, 0755) != 0 && errno != EEXIST) {
    write_error_with_reason(err_fd, cannot_make_text(dir).c_str(), std::strerror(errno));
    return 1;
  }
  const std::vector<line_format> formats = options.formats();
  return split_tables(tables.data(), formats.data(), tables.size(), dir, parts, err_fd);
}

}  // namespace pairhits
