#include "split_layout.h"

#include <cstdio>

namespace pairhits {

std::string part_path(const std::string& dir, int part, const char* suffix) {
  char name[32];
  std::snprintf(name, sizeof name, "/part-%04d%s", part, suffix);
  return dir + name;
}

std::string stats_path(const std::string& dir) { return dir + "/stats"; }

std::string mate_line(std::int32_t mate, const line_format& format) {
  std::string line = "#";
  for (int k = 1; k < format.name; ++k) line += "\t#";
  if (format.name > 0) line += '\t';
  line += mate == 1 ? "/1" : "/2";
  if (format.name + 1 >= format.fields_needed()) line += '\0';
  return line;
}

std::vector<std::string> part_run_options(const run_options& options) {
  std::vector<std::string> args;
  const line_format& f = options.format;
  if (!f.default_fields()) {
    args.push_back("--fields");
    args.push_back(std::to_string(f.name + 1) + "," + std::to_string(f.col3 + 1) + "," + std::to_string(f.col7 + 1) +
                   "," + std::to_string(f.target + 1));
  }
  if (f.rule == line_format::mates::at_end || options.by_table()) {
    args.push_back("--marks");
    args.push_back(f.mark1 + "," + f.mark2);
  }
  return args;
}

bool holds_hit_line(const char* text, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if ((i == 0 || text[i - 1] == '\n') && text[i] != '#') return true;
  }
  return false;
}

}  // namespace pairhits
