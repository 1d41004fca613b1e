#include "part_split.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "hashing.h"
#include "hit_splitter.h"
#include "line_scan.h"
#include "loader.h"
#include "messages.h"
#include "part_files.h"
#include "readline.h"
#include "split_layout.h"
#include "split_stats.h"
#include "table_source.h"

namespace pairhits {

namespace {

// The part of a name's hash: its high 32 bits scaled to [0, parts), which
// spreads as well as a remainder and costs a multiply instead of a 64-bit
// division (a tenth of the split's time on a short-named table).
int part_of(std::uint64_t hash, int parts) {
  return static_cast<int>(((hash >> 32) * static_cast<std::uint64_t>(parts)) >> 32);
}

// The state of one split: the whole table's mate and each part's, and the
// format of the table being split.
struct splitter_state {
  PartFiles& files;
  int parts;
  std::int32_t mate = 0;
  std::vector<std::int32_t> part_mate;
  split_stats stats;
  const line_format* format = nullptr;
  std::string mate_lines[2];  // mate 1's and mate 2's, LF included

  // Gives part p the whole table's mate before a line that does not name its own.
  bool set_mate(int p) {
    std::int32_t& m = part_mate[static_cast<std::size_t>(p)];
    if (m == mate) return true;
    m = mate;
    const std::string& line = mate_lines[mate == 1 ? 0 : 1];
    return files.put(p, line.data(), line.size());
  }
};

// Lines scanned at once: their results take 12 KiB.
constexpr std::size_t kScanBatch = 256;

// Puts one line, whose check said `complete` and gave `fields` (the name
// and `marked`, or all of them while the default-columns check runs), into
// its part; s.mate is the mate after the line.
load_status take_line(padded_view line, bool complete, const hit_fields& fields, unsigned long long line_number,
                      int table, splitter_state& s) {
  if (!complete) {
    count_incomplete(line, line_number, table, s.stats.counts);
    return load_status::ok;
  }
  count_complete(fields, s.mate, line, s.stats.counts);
  const int p = part_of(hash_bytes(fields.name), s.parts);
  if (fields.marked) {
    s.part_mate[static_cast<std::size_t>(p)] = s.mate;
  } else if (!s.set_mate(p)) {
    return load_status::write_failed;
  }
  line.data()[line.size()] = '\n';  // the reader's zero after the line, or its LF
  const line_format& f = *s.format;
  if (f.rule == line_format::mates::by_table) {
    // A name field that does not end in the table's mark is followed by a
    // TAB or the line's end: the mark goes there.
    const char* name_end = fields.name.data() + fields.name.size();
    if (*name_end == kFieldSeparator || *name_end == '\n') {
      const std::string& mark = s.mate == 1 ? f.mark1 : f.mark2;
      const auto head = static_cast<std::size_t>(name_end - line.data());
      return s.files.put(p, line.data(), head) && s.files.put(p, mark.data(), mark.size()) &&
                     s.files.put(p, name_end, line.size() + 1 - head)
                 ? load_status::ok
                 : load_status::write_failed;
    }
  }
  return s.files.put_line(p, line) ? load_status::ok : load_status::write_failed;
}

// Checks one line the way that line by line takes: the default-columns
// check needs fields 7 to 10, and only while every line so far has passed
// it; a chosen format, its fields.
bool check_one(padded_view line, hit_fields& fields, splitter_state& s) {
  if (!s.format->is_default()) return split_hit_line(line, fields, s.mate, *s.format, false);
  return s.stats.counts.default_columns ? split_hit_line(line, fields, s.mate, false)
                                        : check_hit_line(line, fields, s.mate);
}

// Whether lines are checked one by one (check_one) rather than scanned many at once.
bool one_by_one(const splitter_state& s) { return s.stats.counts.default_columns || !s.format->is_default(); }

// Checks and puts the lines of `lines` (LF ends only): one by one while the
// default-columns check runs or under a chosen format, else many at a time.
load_status take_lines(padded_view lines, unsigned long long& line_number, int table, splitter_state& s) {
  scanned_line batch[kScanBatch];
  for (std::size_t done = 0; done < lines.size();) {
    const padded_view rest = lines.part(done, lines.size() - done);
    load_status status = load_status::ok;
    if (one_by_one(s)) {
      const auto* lf = static_cast<const char*>(std::memchr(rest.data(), '\n', rest.size()));
      const padded_view line = rest.part(0, static_cast<std::size_t>(lf - rest.data()));
      hit_fields fields;
      const bool complete = check_one(line, fields, s);
      status = take_line(line, complete, fields, ++line_number, table, s);
      done += line.size() + 1;
    } else {
      std::int32_t mate = s.mate;
      std::size_t consumed = 0;
      const std::size_t n = scan_lines(rest, mate, batch, kScanBatch, consumed);
      for (std::size_t k = 0; k < n && status == load_status::ok; ++k) {
        const scanned_line& l = batch[k];
        hit_fields fields;
        fields.name = rest.part(l.name_start, l.name_size);
        fields.marked = l.marked;
        s.mate = l.mate;
        status = take_line(rest.part(l.start, l.size), l.complete, fields, ++line_number, table, s);
      }
      done += consumed;
    }
    if (status != load_status::ok) return status;
  }
  return load_status::ok;
}

// Splits one table; returns a load status like the loader's.
load_status split_one(LineReader& reader, int table, splitter_state& s, const volatile std::sig_atomic_t* stop) {
  unsigned long long line_number = 0;
  for (;;) {
    padded_view lines;
    read_result r = reader.read_lines(lines);
    if (r != read_result::line) return load_end(r, reader, s.stats.counts);
    load_status status = load_status::ok;
    if (lines.size() > 0) {
      status = take_lines(lines, line_number, table, s);
    } else {
      // A line with a CR end, or the last one without an end.
      padded_view line;
      r = reader.readline(line);
      if (r != read_result::line) return load_end(r, reader, s.stats.counts);
      hit_fields fields;
      const bool complete = check_one(line, fields, s);
      status = take_line(line, complete, fields, ++line_number, table, s);
    }
    if (status != load_status::ok) return status;
    if (stop != nullptr && *stop != 0) return load_status::stopped;
  }
}

}  // namespace

int split_tables(const table_input* tables, const line_format* formats, std::size_t count, const std::string& dir,
                 int parts, int err_fd, const volatile std::sig_atomic_t* stop) {
  // Plain tables on disk tell how much the parts will hold; for the others
  // the parts grow as they are written.
  unsigned long long expected = 0;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned long long bytes = 0;
    bool compressed = false;
    if (regular_table_size(tables[i].fd, bytes, compressed) && !compressed) expected += bytes;
  }
  PartFiles files(dir, parts, expected);
  if (!files.create()) {
    write_error_with_reason(err_fd, kNoPartTablesText, files.error().c_str());
    return 1;
  }
  splitter_state s{files, parts, 0, std::vector<std::int32_t>(static_cast<std::size_t>(parts), 0), {}, formats, {}};
  for (std::int32_t m : {1, 2}) s.mate_lines[m - 1] = mate_line(m, formats[0]) + "\n";
  begin_counts(s.stats.counts, formats[0]);
  s.stats.parts = parts;
  for (std::size_t i = 0; i < count; ++i) s.stats.tables.emplace_back(tables[i].name);
  load_status status = load_status::ok;
  for (std::size_t i = 0; i < count && status == load_status::ok; ++i) {
    TableSource source(tables[i].fd);
    LineReader reader(source, LineReader::kBackgroundCapacity, LineReader::kBackgroundCapacity, read_ahead::on_thread);
    s.format = &formats[i];
    status = reader.ok() ? split_one(reader, static_cast<int>(i), s, stop) : load_status::alloc_failed;
  }
  // Where the mate carries, each part ends with the mate the tables ended with.
  const bool carried = formats[0].rule == line_format::mates::anywhere;
  for (int p = 0; p < parts && status == load_status::ok && carried && s.mate != 0; ++p) {
    if (!s.set_mate(p)) status = load_status::write_failed;
  }
  if (status == load_status::ok && !files.finish()) status = load_status::write_failed;
  s.stats.last_mate = s.mate;
  if (status == load_status::stopped) return -1;
  if (status == load_status::write_failed) write_error(err_fd, files.error());
  if (status != load_status::ok) {
    write_load_failure(err_fd, status, s.stats.counts);
    return 1;
  }
  const std::string path = stats_path(dir);
  if (!write_split_stats(path.c_str(), s.stats)) {
    write_error_with_reason(err_fd, problem_writing_text(path).c_str(), std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace pairhits
