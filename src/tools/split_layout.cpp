#include "split_layout.h"

#include <cstdio>

namespace pairhits {

std::string part_path(const std::string& dir, int part, const char* suffix) {
  char name[32];
  std::snprintf(name, sizeof name, "/part-%04d%s", part, suffix);
  return dir + name;
}

std::string stats_path(const std::string& dir) { return dir + "/stats"; }

const char* mate_line(std::int32_t mate) { return mate == 1 ? "#/1" : "#/2"; }

bool holds_hit_line(const char* text, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if ((i == 0 || text[i - 1] == '\n') && text[i] != '#') return true;
  }
  return false;
}

}  // namespace pairhits
