#include "sharded_load.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "hashing.h"
#include "hit_splitter.h"
#include "line_scan.h"
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
// Stretches of a batch for each member: enough that the members' scans
// even out what their shards' filing does not.
constexpr std::size_t kStretchesPerMember = 4;

// A name's shard: the low 32 bits of its hash scaled to [0, shards). The
// split picks a part by the high 32 bits, so a part's names still spread
// over every shard of a threaded run.
int shard_of(std::uint64_t hash, int shards) {
  return static_cast<int>(((hash & 0xffffffffu) * static_cast<std::uint64_t>(shards)) >> 32);
}

// A complete line as step 1 found it: where it starts (in the view's bytes,
// or the index of a single line) and its mate; and where its fields lie, in
// bytes from its start, when step 1 located them (else step 2 splits it).
struct found_line {
  std::size_t start;
  std::int32_t mate;  // kMateBefore, or what the stretch told
  std::uint8_t name_start;
  std::uint8_t name_size;
  value_offsets values;
};

// The offsets of a split line's fields, when they all fit in a byte.
value_offsets offsets_of(padded_view line, const hit_fields& fields) {
  value_offsets v;
  if (line.size() > UINT8_MAX) return v;
  const auto at = [&](padded_view field) { return static_cast<std::uint8_t>(field.data() - line.data()); };
  const auto end = [&](padded_view field) { return static_cast<std::uint8_t>(field.data() + field.size() - line.data()); };
  v.col3_start = at(fields.col3);
  v.col3_end = end(fields.col3);
  v.col7_start = at(fields.col7);
  v.col7_end = end(fields.col7);
  v.target_start = at(fields.target);
  v.target_end = end(fields.target);
  return v;
}

}  // namespace

struct ShardedLoad::stretch {
  std::size_t begin = 0;  // bytes of the batch's lines, or indexes of its single lines
  std::size_t end = 0;
  std::vector<std::vector<found_line>> found;  // by shard, each in table order
  load_stats counts;  // of this stretch, lines numbered from 1 within it
  unsigned long long lines = 0;
  unsigned long long before_mark = 0;  // complete lines of kMateBefore
  std::int32_t end_mate = kMateBefore;
};

struct ShardedLoad::batch {
  // The lines of one view (LF ends), or single lines.
  padded_view lines;
  std::vector<padded_view> single;
  std::vector<std::unique_ptr<stretch>> stretches;
  std::int32_t mate = 0;  // the mate before the batch
  std::atomic<std::size_t> next_stretch{0};  // the next to scan
  std::atomic<bool> taken{false};  // whether a member is handing out the next batch

  // The line at `start`, and what follows it in the view.
  padded_view from(std::size_t start) const {
    return lines.size() > 0 ? lines.part(start, lines.size() - start) : single[start];
  }
  // The line at `start`, alone.
  padded_view line_at(std::size_t start) const {
    if (lines.size() == 0) return single[start];
    const auto* lf = static_cast<const char*>(std::memchr(lines.data() + start, '\n', lines.size() - start));
    return lines.part(start, static_cast<std::size_t>(lf - lines.data()) - start);
  }
};

struct ShardedLoad::shard {
  explicit shard(ReadTable& table) : loader(table) {}
  Loader loader;
  padded_copies names;  // of the names filed since the loader's last flush
};

ShardedLoad::ShardedLoad(std::vector<std::unique_ptr<ReadTable>>& tables, WorkCrew& crew) : crew_(crew) {
  const auto members = static_cast<std::size_t>(crew.size());
  for (std::size_t k = 0; k < members; ++k) shards_.push_back(std::make_unique<shard>(*tables[k]));
  for (auto& b : batches_) {
    b = std::make_unique<batch>();
    for (std::size_t k = 0; k < members * kStretchesPerMember; ++k) {
      b->stretches.push_back(std::make_unique<stretch>());
      b->stretches.back()->found.resize(members);
    }
  }
}

ShardedLoad::~ShardedLoad() = default;

// Flattened: the field splitter and the scan inlined, as into the
// one-thread loader (a call per line costs more than the split).
[[gnu::flatten]] void ShardedLoad::scan_stretch(const batch& b, stretch& s, const line_format& format) {
  for (auto& lines : s.found) lines.clear();
  const bool default_format = format.is_default();
  const int shards = static_cast<int>(shards_.size());
  std::int32_t mate = kMateBefore;
  // The line before's name: a read's lines often come together.
  padded_view last_name;
  std::vector<found_line>* last_shard = nullptr;
  const auto take = [&](std::size_t start, padded_view line, bool complete, const hit_fields& fields,
                        const value_offsets& values) {
    ++s.lines;
    if (!complete) {
      count_incomplete(line, s.lines, 0, s.counts);
      return;
    }
    count_complete(fields, mate, line, s.counts);
    if (mate == kMateBefore) ++s.before_mark;
    const padded_view name = fields.name;
    if (last_shard == nullptr || name.size() != last_name.size() ||
        std::memcmp(name.data(), last_name.data(), name.size()) != 0) {
      last_name = name;
      last_shard = &s.found[static_cast<std::size_t>(shard_of(hash_bytes(name), shards))];
    }
    const bool located = values.located() && name.size() <= UINT8_MAX;
    last_shard->push_back({start, mate, static_cast<std::uint8_t>(located ? name.data() - line.data() : 0),
                           static_cast<std::uint8_t>(name.size()), located ? values : value_offsets{}});
  };
  // One line, all its fields at once: under a chosen format, and while the
  // default-columns check, which needs them, runs.
  const auto split_one = [&](std::size_t start, padded_view line) {
    hit_fields fields;
    const bool complete =
        default_format ? split_hit_line(line, fields, mate, false) : split_hit_line(line, fields, mate, format, false);
    take(start, line, complete, fields, complete ? offsets_of(line, fields) : value_offsets{});
  };
  if (b.lines.size() == 0) {
    for (std::size_t k = s.begin; k < s.end; ++k) split_one(k, b.single[k]);
  }
  scanned_line scanned[kScanBatch];
  for (std::size_t done = s.begin; done < s.end && b.lines.size() > 0;) {
    if (!default_format || s.counts.default_columns) {
      const padded_view line = b.line_at(done);
      split_one(done, line);
      done += line.size() + 1;
      continue;
    }
    const padded_view rest = b.lines.part(done, s.end - done);
    std::size_t consumed = 0;
    const std::size_t n = scan_lines(rest, mate, scanned, kScanBatch, consumed, true);
    for (std::size_t i = 0; i < n; ++i) {
      const scanned_line& l = scanned[i];
      hit_fields fields;
      fields.name = rest.part(l.name_start, l.name_size);
      fields.marked = l.marked;
      mate = l.mate;
      take(done + l.start, rest.part(l.start, l.size), l.complete, fields, l.values);
    }
    done += consumed;
  }
  s.end_mate = mate;
}

[[gnu::flatten]] bool ShardedLoad::file_shard(int k, const batch& b, const line_format& format) {
  shard& own = *shards_[static_cast<std::size_t>(k)];
  const bool default_format = format.is_default();
  std::int32_t mate = b.mate;
  padded_view last_name;  // in the buffer, and its copy
  padded_view last_copy;
  for (const auto& s : b.stretches) {
    const std::int32_t before = mate;
    if (s->end_mate != kMateBefore) mate = s->end_mate;
    for (const found_line& f : s->found[static_cast<std::size_t>(k)]) {
      hit_fields fields;
      if (f.values.located()) {
        const padded_view line = b.from(f.start);
        const value_offsets& v = f.values;
        fields.name = line.part(f.name_start, f.name_size);
        fields.col3 = line.part(v.col3_start, v.col3_end - v.col3_start);
        fields.col7 = line.part(v.col7_start, v.col7_end - v.col7_start);
        fields.target = line.part(v.target_start, v.target_end - v.target_start);
      } else {
        std::int32_t told = f.mate;  // the split tells it again
        const padded_view line = b.line_at(f.start);
        if (!(default_format ? split_hit_line(line, fields, told, false)
                             : split_hit_line(line, fields, told, format, false))) {
          continue;  // not reached: the scan found the line complete
        }
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

void ShardedLoad::add_counts(const batch& b) {
  load_stats& stats = *stats_;
  for (const auto& s : b.stretches) {
    const load_stats& c = s->counts;
    stats.complete += c.complete;
    stats.marked += c.marked;
    stats.mate1 += c.mate1 + (mate_ == 1 ? s->before_mark : 0);
    stats.mate2 += c.mate2 + (mate_ == 2 ? s->before_mark : 0);
    stats.unmated += c.unmated + (mate_ == 0 ? s->before_mark : 0);
    if (c.skipped > 0 && stats.skipped == 0) {
      stats.first_skipped = line_number_ + c.first_skipped;
      stats.first_skipped_table = table_;
    }
    stats.skipped += c.skipped;
    if (stats.fields_header.empty()) stats.fields_header = c.fields_header;
    stats.default_columns = stats.default_columns && c.default_columns;
    line_number_ += s->lines;
    if (s->end_mate != kMateBefore) mate_ = s->end_mate;
  }
}

// Cuts a batch just read into stretches, which start from the counts so far.
void ShardedLoad::cut(batch& b) {
  const std::size_t count = b.stretches.size();
  const std::size_t total = b.lines.size() > 0 ? b.lines.size() : b.single.size();
  std::size_t at = 0;
  for (std::size_t k = 0; k < count; ++k) {
    stretch& s = *b.stretches[k];
    s.begin = at;
    // Each stretch ends at a line's end, at or after its even share.
    const std::size_t share = total / count * (k + 1) + (k + 1 == count ? total % count : 0);
    if (share > at && b.lines.size() > 0) {
      const auto* lf = static_cast<const char*>(std::memchr(b.lines.data() + share - 1, '\n', total - (share - 1)));
      at = static_cast<std::size_t>(lf - b.lines.data()) + 1;
    } else if (share > at) {
      at = share;
    }
    s.end = at;
    s.counts = load_stats{};
    s.counts.default_columns = stats_->default_columns;
    s.counts.check_header = stats_->check_header && stats_->fields_header.empty();
    s.lines = 0;
    s.before_mark = 0;
  }
  b.mate = mate_;
  b.next_stretch.store(0, std::memory_order_relaxed);
  b.taken.store(false, std::memory_order_relaxed);
}

// A member's part of a crew's run: every batch handed out, in turn.
void ShardedLoad::take_batches(int k, LineReader& reader, const line_format& format) {
  for (std::size_t n = 0;; ++n) {
    {
      std::unique_lock<std::mutex> guard(lock_);
      handed_out_.wait(guard, [&] { return handed_ > n || stopped_; });
      if (handed_ <= n) return;
    }
    batch& b = *batches_[n % 2];
    for (std::size_t i; (i = b.next_stretch.fetch_add(1)) < b.stretches.size();) {
      scan_stretch(b, *b.stretches[i], format);
    }
    crew_.sync();
    if (!failed_.load(std::memory_order_relaxed) && !file_shard(k, b, format)) failed_.store(true);
    if (!b.taken.exchange(true)) hand_out(reader, n + 1);
  }
}

// By the first member done filing batch next - 1, whose counts it adds up:
// the lines of batch next, if the reader gives them beside the ones in use;
// then the bytes after them are read, while the others file and scan.
void ShardedLoad::hand_out(LineReader& reader, std::size_t next) {
  add_counts(*batches_[(next - 1) % 2]);
  batch& b = *batches_[next % 2];
  const bool more = !failed_.load() && reader.read_lines(b.lines, false) == read_result::line && b.lines.size() > 0;
  if (more) {
    b.single.clear();
    cut(b);
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (more) {
      handed_ = next + 1;
    } else {
      stopped_ = true;
    }
  }
  handed_out_.notify_all();
  if (more) reader.read_ahead_now();
}

// The next batch, read with no batch in flight: a view of lines with LF
// ends, or else single lines (a line with a CR end, or the last one without
// an end, and the lines after it that the buffer holds). On a batch, `r`
// says how the reader stands after it.
bool ShardedLoad::read_batch(LineReader& reader, batch& b, read_result& r) {
  b.single.clear();
  r = reader.read_lines(b.lines);
  if (r != read_result::line) return false;
  if (b.lines.size() > 0) return true;
  padded_view line;
  r = reader.readline(line);
  if (r != read_result::line) return false;
  b.single.push_back(line);
  while (b.single.size() < kSingleLines) {
    r = reader.readline(line, false);
    if (r != read_result::line) break;
    b.single.push_back(line);
  }
  if (r == read_result::pending) r = read_result::line;
  return true;
}

load_status ShardedLoad::run(LineReader& reader, load_stats& stats, int table, const line_format& format) {
  stats_ = &stats;
  line_number_ = 0;
  table_ = table;
  for (;;) {
    read_result r;
    if (read_batch(reader, *batches_[0], r)) {
      cut(*batches_[0]);
      handed_ = 1;
      stopped_ = false;
      crew_.run([&](int k) { take_batches(k, reader, format); });
      if (failed_) return load_status::alloc_failed;
    }
    if (r != read_result::line) return load_end(r, reader, stats);
  }
}

}  // namespace pairhits
