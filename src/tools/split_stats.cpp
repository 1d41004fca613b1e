#include "split_stats.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "messages.h"
#include "program_limits.h"

namespace pairhits {

namespace {
// Version 2 adds a line: the number of parts, and the "# Fields:" header
// check (whether it runs, the four fields, the first header); version 1
// files are read as of an unknown number of parts, without the check.
constexpr char kHeader[] = "pairhits-split-stats 2";
constexpr char kHeaderV1[] = "pairhits-split-stats 1";

// A string with its length before it: names and texts may hold any byte but zero.
void write_counted(std::FILE* f, const std::string& text) {
  std::fprintf(f, "%zu ", text.size());
  std::fwrite(text.data(), 1, text.size(), f);
  std::fputc('\n', f);
}

bool read_counted(std::FILE* f, std::string& text) {
  std::size_t length = 0;
  if (std::fscanf(f, "%zu", &length) != 1 || std::fgetc(f) != ' ' || length >= (1u << 20)) return false;
  text.assign(length, '\0');
  return std::fread(text.data(), 1, length, f) == length;
}
}  // namespace

bool write_split_stats(const char* path, const split_stats& s) {
  std::FILE* f = std::fopen(path, "w");
  if (f == nullptr) return false;
  const load_stats& c = s.counts;
  std::fprintf(f, "%s\n%zu\n", kHeader, s.tables.size());
  for (const std::string& t : s.tables) write_counted(f, t);
  std::fprintf(f, "%llu %llu %d %llu %llu %llu %llu %llu %d %d\n", c.skipped, c.first_skipped,
               c.first_skipped_table, c.complete, c.marked, c.mate1, c.mate2, c.unmated, c.default_columns ? 1 : 0,
               static_cast<int>(s.last_mate));
  std::fprintf(f, "%d %d %d %d %d %d ", s.parts, c.check_header ? 1 : 0, c.fields_read[0], c.fields_read[1],
               c.fields_read[2], c.fields_read[3]);
  write_counted(f, c.fields_header);
  const bool written = std::ferror(f) == 0;
  return std::fclose(f) == 0 && written;
}

bool read_split_stats(const char* path, split_stats& s) {
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) return false;
  char header[sizeof kHeader + 1] = {};
  std::size_t tables = 0;
  const auto starts = [&](const char* text) { return std::strncmp(header, text, std::strlen(text)) == 0; };
  bool ok = std::fgets(header, sizeof header, f) != nullptr;
  const bool v1 = ok && starts(kHeaderV1);
  ok = ok && (v1 || starts(kHeader)) && std::fscanf(f, "%zu", &tables) == 1;
  s.tables.clear();
  for (std::size_t i = 0; ok && i < tables; ++i) {
    std::string name;
    ok = read_counted(f, name);
    s.tables.push_back(name);
  }
  load_stats& c = s.counts;
  int default_columns = 0;
  int last_mate = 0;
  ok = ok && std::fscanf(f, "%llu %llu %d %llu %llu %llu %llu %llu %d %d", &c.skipped, &c.first_skipped,
                         &c.first_skipped_table, &c.complete, &c.marked, &c.mate1, &c.mate2, &c.unmated,
                         &default_columns, &last_mate) == 10;
  c.default_columns = default_columns != 0;
  s.last_mate = last_mate;
  int check_header = 0;
  int* fields = c.fields_read;
  c.fields_header.clear();
  s.parts = 0;
  ok = ok && (v1 || (std::fscanf(f, "%d %d %d %d %d %d", &s.parts, &check_header, &fields[0], &fields[1], &fields[2],
                                 &fields[3]) == 6 &&
                     std::fgetc(f) == ' ' && read_counted(f, c.fields_header)));
  ok = ok && s.parts >= 0 && s.parts <= kMaxParts;
  c.check_header = check_header != 0;
  for (int k = 0; k < 4; ++k) ok = ok && fields[k] >= 0 && fields[k] < kMaxField;
  std::fclose(f);
  return ok && c.first_skipped_table >= 0 && (c.skipped == 0 || static_cast<std::size_t>(c.first_skipped_table) < tables);
}

split_stats combine_split_stats(const std::vector<split_stats>& splits) {
  split_stats all;
  load_stats& c = all.counts;
  for (const split_stats& s : splits) {
    const load_stats& p = s.counts;
    if (c.skipped == 0 && p.skipped > 0) {
      c.first_skipped = p.first_skipped;
      c.first_skipped_table = static_cast<int>(all.tables.size()) + p.first_skipped_table;
    }
    c.skipped += p.skipped;
    c.complete += p.complete;
    c.marked += p.marked;
    c.mate1 += p.mate1;
    c.mate2 += p.mate2;
    // Lines before this split's first mate mark carry the mate the splits before ended with.
    (all.last_mate == 1 ? c.mate1 : all.last_mate == 2 ? c.mate2 : c.unmated) += p.unmated;
    c.default_columns = c.default_columns && p.default_columns;
    // The splits of one run read the same fields; the first header of the
    // whole run is the one checked.
    c.check_header = p.check_header;
    std::copy(std::begin(p.fields_read), std::end(p.fields_read), c.fields_read);
    if (c.fields_header.empty()) c.fields_header = p.fields_header;
    if (s.last_mate != 0) all.last_mate = s.last_mate;
    all.tables.insert(all.tables.end(), s.tables.begin(), s.tables.end());
  }
  return all;
}

void write_split_messages(int err_fd, const split_stats& stats) {
  std::vector<const char*> names;
  for (const std::string& t : stats.tables) names.push_back(t.c_str());
  if (stats.counts.skipped > 0) write_skip_warning(err_fd, stats.counts, names.size() > 1 ? names.data() : nullptr);
  write_load_warnings(err_fd, stats.counts);
}

}  // namespace pairhits
