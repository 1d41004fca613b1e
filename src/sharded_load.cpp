#include "sharded_load.h"

#include <atomic>
#include <cstring>

#include "hashing.h"
#include "hit_splitter.h"
#include "loader.h"
#include "numbers.h"

namespace pairhits {

namespace {

// The mate of a line before its stretch's first mate mark: the one that the
// stretches before end with.
constexpr std::int32_t kMateBefore = -1;
// Lines taken one at a time (CR ends) gathered at most into one batch.
constexpr std::size_t kSingleLines = 4096;

// A name's shard: the low 32 bits of its hash scaled to [0, shards). The
// split picks a part by the high 32 bits, so a part's names still spread
// over every shard of a threaded run.
int shard_of(std::uint64_t hash, int shards) {
  return static_cast<int>(((hash & 0xffffffffu) * static_cast<std::uint64_t>(shards)) >> 32);
}

// A complete line as step 1 found it. The target and the numbers point
// into the reader's buffer; the name is a padded copy, which the loader's
// word-wise comparisons need zero-terminated.
struct found_hit {
  std::size_t name_at;  // in the stretch's copies
  std::size_t name_size;
  const char* target;
  std::size_t target_size;
  std::uint64_t head;  // head_word of the target
  double col3;
  double col7;
  std::int32_t mate;   // kMateBefore, or what the stretch told
  std::int32_t shard;
};

}  // namespace

struct ShardedLoad::stretch {
  std::size_t begin = 0;  // bytes of lines_, or indexes of single_
  std::size_t end = 0;
  std::vector<found_hit> found;       // in table order
  std::vector<std::uint32_t> sorted;  // found's indexes by shard, each shard's in table order
  std::vector<std::size_t> starts;    // shard k's lines are sorted[starts[k] .. starts[k + 1])
  padded_copies names;
  NumberMemo col3;
  NumberMemo col7;
  load_stats counts;  // of this stretch, lines numbered from 1 within it
  unsigned long long lines = 0;
  unsigned long long before_mark = 0;  // complete lines of kMateBefore
  std::int32_t end_mate = kMateBefore;
};

struct ShardedLoad::shard {
  explicit shard(ReadTable& table) : loader(table) {}
  Loader loader;
};

ShardedLoad::ShardedLoad(std::vector<std::unique_ptr<ReadTable>>& tables, WorkCrew& crew) : crew_(crew) {
  for (int k = 0; k < crew.size(); ++k) {
    stretches_.push_back(std::make_unique<stretch>());
    shards_.push_back(std::make_unique<shard>(*tables[static_cast<std::size_t>(k)]));
  }
}

ShardedLoad::~ShardedLoad() = default;

// Flattened: the field splitter inlined, as into the one-thread loader (a call
// per line costs more than the split).
[[gnu::flatten]] void ShardedLoad::read_stretch(stretch& s, const line_format& format) {
  s.found.clear();
  s.names.clear();
  const bool default_format = format.is_default();
  const int shards = static_cast<int>(shards_.size());
  std::int32_t mate = kMateBefore;
  // The line before's name: a read's lines often come together, and then
  // its copy and shard serve them all.
  padded_view last_name;
  std::size_t last_at = 0;
  std::int32_t last_shard = 0;
  const auto take = [&](padded_view line) {
    ++s.lines;
    hit_fields fields;
    if (!(default_format ? split_hit_line(line, fields, mate, false)
                         : split_hit_line(line, fields, mate, format, false))) {
      count_incomplete(line, s.lines, 0, s.counts);
      return;
    }
    count_complete(fields, mate, line, s.counts);
    if (mate == kMateBefore) ++s.before_mark;
    const padded_view name = fields.name;
    if (name.size() != last_name.size() || std::memcmp(name.data(), last_name.data(), name.size()) != 0 ||
        s.found.empty()) {
      last_name = name;
      last_at = s.names.add(name.text());
      last_shard = shard_of(hash_bytes(name), shards);
    }
    s.found.push_back({last_at, name.size(), fields.target.data(), fields.target.size(), head_word(fields.target),
                       s.col3.convert(fields.col3), s.col7.convert(fields.col7), mate, last_shard});
  };
  if (lines_.size() > 0) {
    for (std::size_t at = s.begin; at < s.end;) {
      const auto* lf = static_cast<const char*>(std::memchr(lines_.data() + at, '\n', s.end - at));
      const auto size = static_cast<std::size_t>(lf - (lines_.data() + at));
      take(lines_.part(at, size));
      at += size + 1;
    }
  } else {
    for (std::size_t k = s.begin; k < s.end; ++k) take(single_[k]);
  }
  s.end_mate = mate;
  // A counting sort by shard, which keeps the table order within each.
  s.starts.assign(static_cast<std::size_t>(shards) + 1, 0);
  for (const found_hit& f : s.found) ++s.starts[static_cast<std::size_t>(f.shard) + 1];
  for (std::size_t k = 1; k < s.starts.size(); ++k) s.starts[k] += s.starts[k - 1];
  s.sorted.resize(s.found.size());
  std::vector<std::size_t> next(s.starts.begin(), s.starts.end() - 1);
  for (std::size_t i = 0; i < s.found.size(); ++i) {
    s.sorted[next[static_cast<std::size_t>(s.found[i].shard)]++] = static_cast<std::uint32_t>(i);
  }
}

bool ShardedLoad::file_shard(int k) {
  Loader& loader = shards_[static_cast<std::size_t>(k)]->loader;
  std::int32_t mate = mate_;
  for (const auto& s : stretches_) {
    const std::int32_t before = mate;
    if (s->end_mate != kMateBefore) mate = s->end_mate;
    for (std::size_t i = s->starts[static_cast<std::size_t>(k)]; i < s->starts[static_cast<std::size_t>(k) + 1]; ++i) {
      const found_hit& f = s->found[s->sorted[i]];
      if (!loader.take_hit(s->names.view(f.name_at, f.name_size), {f.target, f.target_size}, f.head, f.col3, f.col7,
                           f.mate == kMateBefore ? before : f.mate)) {
        return false;
      }
    }
  }
  return loader.flush();
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

bool ShardedLoad::take_batch(load_stats& stats, unsigned long long& line_number, int table,
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
  std::atomic<bool> failed{false};
  crew_.run([&](int k) {
    read_stretch(*stretches_[static_cast<std::size_t>(k)], format);
    crew_.sync();
    if (!file_shard(k)) failed.store(true, std::memory_order_relaxed);
  });
  add_counts(stats, line_number, table);
  return !failed.load(std::memory_order_relaxed);
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
    if (r == read_result::end) return load_status::ok;
    if (r == read_result::line && !take_batch(stats, line_number, table, format)) return load_status::alloc_failed;
    if (r == read_result::line) r = after;
    switch (r) {
      case read_result::line:
      case read_result::pending:
        continue;
      case read_result::end:
        return load_status::ok;
      case read_result::read_error:
        stats.read_error = reader.error_text();
        return load_status::read_failed;
      case read_result::realloc_failed:
        return load_status::realloc_failed;
    }
  }
}

}  // namespace pairhits
