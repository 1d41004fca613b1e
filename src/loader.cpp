#include "loader.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "fields_header.h"

namespace pairhits {

namespace {
// A batch counts as scattered when more than this share of its lines start a
// run of lines of one read: the table's reads are then spread out.
constexpr int kScatteredRuns = 3;
constexpr int kScatteredLines = 4;

// The threaded load gives a read's lines that come together one copy of the
// name: the same pointer needs no comparison.
bool same_name(padded_view a, padded_view b) {
  return a.size() == b.size() && (a.data() == b.data() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}
}  // namespace

void begin_counts(load_stats& stats, const line_format& format) {
  stats.default_columns = format.check_columns;
  stats.check_header = format.check_header;
  const int fields[4] = {format.name, format.col3, format.col7, format.target};
  std::copy(std::begin(fields), std::end(fields), stats.fields_read);
}

void count_incomplete(padded_view line, unsigned long long line_number, int table, load_stats& stats) {
  if (stats.check_header && line.size() > 0 && line.data()[0] == '#' && stats.fields_header.empty() &&
      is_fields_header(line.text())) {
    stats.fields_header = line.text();
  }
  if (line.size() == 0 || line.data()[0] == '#' || stats.skipped++ > 0) return;
  stats.first_skipped = line_number;
  stats.first_skipped_table = table;
}

void count_complete(const hit_fields& fields, std::int32_t mate, padded_view line, load_stats& stats) {
  ++stats.complete;
  if (fields.marked) ++stats.marked;
  if (mate == 1) ++stats.mate1;
  if (mate == 2) ++stats.mate2;
  if (mate == 0) ++stats.unmated;
  // Looked at only while every line so far has had that shape: one line
  // for most tables.
  if (stats.default_columns) stats.default_columns = has_default_outfmt6_shape(line, fields);
}

load_status load_end(read_result r, const LineReader& reader, load_stats& stats) {
  switch (r) {
    case read_result::read_error:
      stats.read_error = reader.error_text();
      return load_status::read_failed;
    case read_result::realloc_failed:
      return load_status::realloc_failed;
    default:
      return load_status::ok;
  }
}

load_status Loader::run(LineReader& reader, load_stats& stats, int table, const line_format& format) {
  const bool default_format = format.is_default();
  unsigned long long line_number = 0;
  for (;;) {
    padded_view line;
    const read_result r = reader.readline(line, batch_size_ == 0);
    if (r != read_result::line) {
      if ((r == read_result::pending || r == read_result::end) && !file_batch()) return load_status::alloc_failed;
      if (r == read_result::pending) continue;
      return load_end(r, reader, stats);
    }
    ++line_number;
    hit_fields fields;
    // An incomplete line is left as it was read.
    // The default format by its own entry, which the loader inlines.
    if (!(default_format ? split_hit_line(line, fields, mate_) : split_hit_line(line, fields, mate_, format))) {
      count_incomplete(line, line_number, table, stats);
      continue;
    }
    count_complete(fields, mate_, line, stats);
    if (!take(fields, mate_)) return load_status::alloc_failed;
  }
}

// Converts a complete line's fields into a hit and files it, or queues it
// for the next batch.
bool Loader::take(const hit_fields& fields, std::int32_t mate) {
  parsed_hit& p = batch_[batch_size_];
  p.name = fields.name;
  p.mate = mate;
  p.h.target = table_.memory().keep_target(fields.target.text(), head_word(fields.target));
  if (p.h.target == nullptr) return false;
  p.h.col3 = col3_.convert(fields.col3);
  p.h.col7 = col7_.convert(fields.col7);
  return queue();
}

// Files the hit just put at the batch's end, or keeps it there for the
// batch's lookups.
bool Loader::queue() {
  if constexpr (kPlainBuild) return file_one(batch_[batch_size_]);
  return ++batch_size_ < kFindBatch || file_batch();
}

// Marks the lines whose name differs from the line before's, hashes those
// names, and returns how many there are.
int Loader::mark_runs(bool* first_of_run) {
  int runs = 0;
  for (int k = 0; k < batch_size_; ++k) {
    parsed_hit& p = batch_[k];
    first_of_run[k] = k == 0 || !same_name(batch_[k - 1].name, p.name);
    if (first_of_run[k]) {
      p.hash = hash_bytes(p.name);
      known_.prefetch(p.hash);
      ++runs;
    } else {
      p.hash = batch_[k - 1].hash;
    }
  }
  return runs;
}

bool Loader::file_batch() {
  const char* names[kFindBatch];
  elem* found[kFindBatch + 1];
  found[kFindBatch] = nullptr;    // the answer for names certainly new
  int lookup_of[kFindBatch];      // which lookup answers each line
  bool first_of_run[kFindBatch];  // whether a line's name differs from the line before's
  const int runs = mark_runs(first_of_run);
  // A name certainly new needs no lookup, except in a scattered table,
  // whose lines rarely follow one of the same read: there the lookup brings
  // the new name's insertion path into cache alongside the others. In a
  // table whose reads come in blocks, new names land near each other, that
  // path is warm already and the lookup would only cost comparisons.
  const bool scattered = kScatteredLines * runs > kScatteredRuns * batch_size_;
  int lookups = 0;
  for (int k = 0; k < batch_size_; ++k) {
    parsed_hit& p = batch_[k];
    if (!first_of_run[k]) {
      lookup_of[k] = lookup_of[k - 1];
    } else if (scattered || known_.may_contain(p.hash)) {
      names[lookups] = p.name.data();
      lookup_of[k] = lookups++;
    } else {
      lookup_of[k] = kFindBatch;
    }
  }
  kb_find_batch_str(index_, names, found, lookups);

  // Filing reads the mate's list (its targets are compared as pointers):
  // fetch the lists of all found records first, so those misses overlap too.
  for (int k = 0; k < batch_size_; ++k) {
    if (const elem* r = found[lookup_of[k]]) __builtin_prefetch(batch_[k].mate == 1 ? r->hits1 : r->hits2);
  }
  int deferred = 0;
  for (int k = 0; k < batch_size_; ++k) {
    elem* r = found[lookup_of[k]];
    if (r == nullptr) {
      batch_[deferred++] = batch_[k];
    } else if (add_kept_hit(*r, batch_[k].mate, batch_[k].h, table_.memory()) == add_result::alloc_failed) {
      return false;
    }
  }
  batch_size_ = 0;
  for (int k = 0; k < deferred; ++k) {
    if (!file_one(batch_[k])) return false;
  }
  return true;
}

// Files one line whose name had no record when its batch was looked up (or,
// in the plain build, any line).
bool Loader::file_one(const parsed_hit& p) {
  elem* r = nullptr;
  if (!kPlainBuild && last_ != nullptr && last_length_ == p.name.size() &&
      std::memcmp(last_->name, p.name.data(), p.name.size()) == 0) {
    r = last_;
  } else if (kPlainBuild || known_.may_contain(p.hash)) {
    r = kb_find_str(index_, p.name.data());
  }
  last_length_ = p.name.size();
  if (r != nullptr) {
    last_ = r;
    return add_kept_hit(*r, p.mate, p.h, table_.memory()) != add_result::alloc_failed;
  }
  const char* kept_name = table_.memory().copy(p.name.text());
  if (kept_name == nullptr) return false;
  elem fresh = init_blast(kept_name);
  last_ = add_kept_hit(fresh, p.mate, p.h, table_.memory()) == add_result::alloc_failed
              ? nullptr
              : kb_insert_str(index_, fresh);
  if (last_ == nullptr) {
    free_elem(fresh, table_.memory());
    return false;
  }
  return kPlainBuild || known_.add(p.hash);
}

}  // namespace pairhits
