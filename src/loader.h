// The loader: files every complete line of a table under its read name and
// mate, in the read table.
//
// Lines are gathered in batches of up to kFindBatch, as many as the reader
// holds without reading. A batch's names are looked up together, so that the
// lookups' cache misses overlap. Names found have records already: their
// hits are filed at once, which changes only lists. The other lines name new
// reads and go one by one through insertion, whose paths the lookups have
// just brought into cache. Lines of one name keep their order either way, and
// records of different names are independent, so the result is the same as
// filing the lines one by one, which is what the plain build does.
#pragma once

#include <cstddef>
#include <cstdint>

#include "blast_parser.h"
#include "hit_splitter.h"
#include "load_stats.h"
#include "name_filter.h"
#include "numbers.h"
#include "read_index.h"
#include "read_table.h"
#include "readline.h"

namespace pairhits {

// Sets up `stats` for a load under `format`: the checks it runs (the
// default columns, the "# Fields:" header) and the fields the header is
// checked against.
void begin_counts(load_stats& stats, const line_format& format);

// Counts a line without a complete hit, the `line_number`-th of table
// `table`, in `stats`: empty lines and '#' comments are skipped quietly.
void count_incomplete(padded_view line, unsigned long long line_number, int table, load_stats& stats);

// Counts a complete line, whose fields and mate are given, in `stats`.
void count_complete(const hit_fields& fields, std::int32_t mate, padded_view line, load_stats& stats);

// How a load ends on a read result other than a line: ok at the end, or the
// failure, a read error's text kept in `stats`.
load_status load_end(read_result r, const LineReader& reader, load_stats& stats);

class Loader {
 public:
  explicit Loader(ReadTable& table) : table_(table), index_(table.index()) {}

  // Loads one table, its lines read by `format`; tables loaded one after
  // the other by one loader are one table, the mate carrying over, but each
  // table's end ends its last line. `table` numbers the table in the messages.
  load_status run(LineReader& reader, load_stats& stats, int table, const line_format& format);

  // Files a complete line's hit from its fields, read elsewhere (the
  // threaded load, sharded_load.h): `fields.name` is zero-terminated and
  // stays valid until flush(). False if memory ran out.
  bool take(const hit_fields& fields, std::int32_t mate);
  // Files every line taken and not filed yet.
  bool flush() { return file_batch(); }

 private:
  // A complete hit line waiting in a batch; its strings point into the
  // reader's buffer, which stays put until the next read.
  struct parsed_hit {
    padded_view name;    // zero-terminated
    std::uint64_t hash;  // of the name, for the name filter
    hit h;               // its target kept by the record memory
    std::int32_t mate;
  };

  bool queue();
  bool file_batch();
  int mark_runs(bool* first_of_run);
  bool file_one(const parsed_hit& p);

  ReadTable& table_;
  read_index* index_;
  std::int32_t mate_ = 0;
  // The record last inserted or found by file_one: a new read's lines come
  // together, and only an insertion moves records (it says where the new one is).
  elem* last_ = nullptr;
  std::size_t last_length_ = 0;
  NameFilter known_;
  NumberMemo col3_;
  NumberMemo col7_;
  parsed_hit batch_[kFindBatch];
  int batch_size_ = 0;
};

}  // namespace pairhits
