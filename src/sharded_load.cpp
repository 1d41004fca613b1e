#include "sharded_load.h"

#include <atomic>
#include <cstring>

#include "hashing.h"
#include "hit_splitter.h"
#include "loader.h"

namespace pairhits {

namespace {

// The mate of a line before its stretch's first mate mark: the one that the
// stretches before end with.
constexpr std::int32_t kMateBefore = -1;
// Lines taken one at a time (CR ends) gathered at most into one batch.
constexpr std::size_t kSingleLines = 4096;
// Lines scanned at once: their results take 12 KiB.
constexpr std::size_t kScanBatch = 256;

// A name's shard: the low 32 bits of its hash scaled to [0, shards). The
// split picks a part by the high 32 bits, so a part's names still spread
// over every shard of a threaded run.
int shard_of(std::uint64_t hash, int shards) {
  return static_cast<int>(((hash & 0xffffffffu) * static_cast<std::uint64_t>(shards)) >> 32);
}

// A complete line as step 1 found it: where it is (in the view's bytes, or
// the index of a single line), its mate and its shard.
struct found_line {
  std::size_t start;
  std::size_t size;
  std::int32_t mate;  // kMateBefore, or what the stretch told
  std::int32_t shard;
};

}  // namespace

struct ShardedLoad::stretch {
  std::size_t begin = 0;  // bytes of lines_, or indexes of single_
  std::size_t end = 0;
  std::vector<found_line> found;   // in table order
  std::vector<found_line> sorted;  // by shard, each shard's in table order
  std::vector<std::size_t> starts;  // shard k's lines are sorted[starts[k] .. starts[k + 1])
  load_stats counts;  // of this stretch, lines numbered from 1 within it
  unsigned long long lines = 0;
  unsigned long long before_mark = 0;  // complete lines of kMateBefore
  std::int32_t end_mate = kMateBefore;
};

struct ShardedLoad::shard {
  explicit shard(ReadTable& table) : loader(table) {}
  Loader loader;
  padded_copies names;  // of the names filed since the loader's last flush
};

ShardedLoad::ShardedLoad(std::vector<std::unique_ptr<ReadTable>>& tables, WorkCrew& crew) : crew_(crew) {
  for (int k = 0; k < crew.size(); ++k) {
    stretches_.push_back(std::make_unique<stretch>());
    shards_.push_back(std::make_unique<shard>(*tables[static_cast<std::size_t>(k)]));
  }
}

ShardedLoad::~ShardedLoad() = default;

padded_view ShardedLoad::line_of(std::size_t start, std::size_t size) const {
  return lines_.size() > 0 ? lines_.part(start, size) : single_[start];
}

// Flattened: the field splitter and the scan inlined, as into the
// one-thread loader (a call per line costs more than the split).
[[gnu::flatten]] void ShardedLoad::scan_stretch(stretch& s, const line_format& format) {
  s.found.clear();
  const bool default_format = format.is_default();
  const int shards = static_cast<int>(shards_.size());
  std::int32_t mate = kMateBefore;
  // The line before's name: a read's lines often come together.
  padded_view last_name;
  std::int32_t last_shard = -1;
  const auto take = [&](std::size_t start, padded_view line, bool complete, const hit_fields& fields) {
    ++s.lines;
    if (!complete) {
      count_incomplete(line, s.lines, 0, s.counts);
      return;
    }
    count_complete(fields, mate, line, s.counts);
    if (mate == kMateBefore) ++s.before_mark;
    const padded_view name = fields.name;
    if (last_shard < 0 || name.size() != last_name.size() ||
        std::memcmp(name.data(), last_name.data(), name.size()) != 0) {
      last_name = name;
      last_shard = shard_of(hash_bytes(name), shards);
    }
    s.found.push_back({start, line.size(), mate, last_shard});
  };
  // One line, all its fields at once: under a chosen format, and while the
  // default-columns check, which needs them, runs.
  const auto split_one = [&](std::size_t start, padded_view line) {
    hit_fields fields;
    const bool complete =
        default_format ? split_hit_line(line, fields, mate, false) : split_hit_line(line, fields, mate, format, false);
    take(start, line, complete, fields);
  };
  if (lines_.size() == 0) {
    for (std::size_t k = s.begin; k < s.end; ++k) split_one(k, single_[k]);
  }
  scanned_line scanned[kScanBatch];
  for (std::size_t done = s.begin; done < s.end && lines_.size() > 0;) {
    const padded_view rest = lines_.part(done, s.end - done);
    if (!default_format || s.counts.default_columns) {
      const auto* lf = static_cast<const char*>(std::memchr(rest.data(), '\n', rest.size()));
      const auto size = static_cast<std::size_t>(lf - rest.data());
      split_one(done, rest.part(0, size));
      done += size + 1;
      continue;
    }
    std::size_t consumed = 0;
    const std::size_t n = scan_lines(rest, mate, scanned, kScanBatch, consumed);
    for (std::size_t i = 0; i < n; ++i) {
      const scanned_line& l = scanned[i];
      hit_fields fields;
      fields.name = rest.part(l.name_start, l.name_size);
      fields.marked = l.marked;
      mate = l.mate;
      take(done + l.start, rest.part(l.start, l.size), l.complete, fields);
    }
    done += consumed;
  }
  s.end_mate = mate;
  // A counting sort by shard, which keeps the table order within each.
  s.starts.assign(static_cast<std::size_t>(shards) + 1, 0);
  for (const found_line& f : s.found) ++s.starts[static_cast<std::size_t>(f.shard) + 1];
  for (std::size_t k = 1; k < s.starts.size(); ++k) s.starts[k] += s.starts[k - 1];
  s.sorted.resize(s.found.size());
  std::vector<std::size_t> next(s.starts.begin(), s.starts.end() - 1);
  for (const found_line& f : s.found) s.sorted[next[static_cast<std::size_t>(f.shard)]++] = f;
}

[[gnu::flatten]] bool ShardedLoad::file_shard(int k, const line_format& format) {
  shard& own = *shards_[static_cast<std::size_t>(k)];
  const bool default_format = format.is_default();
  std::int32_t mate = mate_;
  padded_view last_name;  // in the buffer, and its copy
  padded_view last_copy;
  for (const auto& s : stretches_) {
    const std::int32_t before = mate;
    if (s->end_mate != kMateBefore) mate = s->end_mate;
    const auto at = static_cast<std::size_t>(k);
    for (std::size_t i = s->starts[at]; i < s->starts[at + 1]; ++i) {
      const found_line& f = s->sorted[i];
      const padded_view line = line_of(f.start, f.size);
      hit_fields fields;
      std::int32_t told = f.mate;  // the split tells it again
      if (!(default_format ? split_hit_line(line, fields, told, false)
                           : split_hit_line(line, fields, told, format, false))) {
        continue;  // not reached: the scan found the line complete
      }
      // The loader compares names word by word: it needs them
      // zero-terminated, in copies, which move only once it holds none.
      if (last_copy.size() != fields.name.size() || last_copy.data() == padded_view().data() ||
          std::memcmp(last_name.data(), fields.name.data(), fields.name.size()) != 0) {
        if (!own.names.fits(fields.name.size())) {
          if (!own.loader.flush()) return false;
          own.names.clear();
        }
        last_name = fields.name;
        last_copy = own.names.add(fields.name.text());
      }
      fields.name = last_copy;
      if (!own.loader.take(fields, f.mate == kMateBefore ? before : f.mate)) return false;
    }
  }
  const bool filed = own.loader.flush();
  own.names.clear();
  return filed;
}

void ShardedLoad::add_counts(load_stats& stats, unsigned long long& line_number, int table) {
  for (const auto& s : stretches_) {
    const load_stats& c = s->counts;
    stats.complete += c.complete;
    stats.marked += c.marked;
    stats.mate1 += c.mate1 + (mate_ == 1 ? s->before_mark : 0);
    stats.mate2 += c.mate2 + (mate_ == 2 ? s->before_mark : 0);
    stats.unmated += c.unmated + (mate_ == 0 ? s->before_mark : 0);
    if (c.skipped > 0 && stats.skipped == 0) {
      stats.first_skipped = line_number + c.first_skipped;
      stats.first_skipped_table = table;
    }
    stats.skipped += c.skipped;
    if (stats.fields_header.empty()) stats.fields_header = c.fields_header;
    stats.default_columns = stats.default_columns && c.default_columns;
    line_number += s->lines;
    if (s->end_mate != kMateBefore) mate_ = s->end_mate;
  }
}

bool ShardedLoad::take_batch(LineReader& reader, load_stats& stats, unsigned long long& line_number, int table,
                             const line_format& format) {
  const std::size_t members = stretches_.size();
  const std::size_t total = lines_.size() > 0 ? lines_.size() : single_.size();
  std::size_t cut = 0;
  for (std::size_t k = 0; k < members; ++k) {
    stretch& s = *stretches_[k];
    s.begin = cut;
    // Each stretch ends at a line's end, at or after its even share.
    const std::size_t share = total / members * (k + 1) + (k + 1 == members ? total % members : 0);
    if (share > cut && lines_.size() > 0) {
      const auto* lf = static_cast<const char*>(std::memchr(lines_.data() + share - 1, '\n', total - (share - 1)));
      cut = static_cast<std::size_t>(lf - lines_.data()) + 1;
    } else if (share > cut) {
      cut = share;
    }
    s.end = cut;
    s.counts = load_stats{};
    s.counts.default_columns = stats.default_columns;
    s.counts.check_header = stats.check_header && stats.fields_header.empty();
    s.lines = 0;
    s.before_mark = 0;
  }
  std::vector<char> filed(members, 0);  // each member's own flag
  std::atomic<bool> read_taken{false};
  crew_.run([&](int k) {
    scan_stretch(*stretches_[static_cast<std::size_t>(k)], format);
    crew_.sync();
    filed[static_cast<std::size_t>(k)] = file_shard(k, format);
    // The first member done reads the next bytes (if the reader reads
    // ahead on request) while the others file: nobody else uses the reader.
    if (!read_taken.exchange(true)) reader.read_ahead_now();
  });
  add_counts(stats, line_number, table);
  for (char f : filed) {
    if (f == 0) return false;
  }
  return true;
}

load_status ShardedLoad::run(LineReader& reader, load_stats& stats, int table, const line_format& format) {
  unsigned long long line_number = 0;
  for (;;) {
    single_.clear();
    read_result r = reader.read_lines(lines_);
    read_result after = read_result::line;  // how the reader stands after the batch
    if (r == read_result::line && lines_.size() == 0) {
      // A line with a CR end, or the last one without an end, and the lines
      // after it that the buffer holds, one at a time.
      padded_view line;
      r = reader.readline(line);
      if (r == read_result::line) {
        single_.push_back(line);
        while (single_.size() < kSingleLines) {
          after = reader.readline(line, false);
          if (after != read_result::line) break;
          single_.push_back(line);
        }
        if (after == read_result::pending) after = read_result::line;
      }
    }
    if (r == read_result::line) {
      if (!take_batch(reader, stats, line_number, table, format)) return load_status::alloc_failed;
      r = after;
    }
    if (r != read_result::line && r != read_result::pending) return load_end(r, reader, stats);
  }
}

}  // namespace pairhits
