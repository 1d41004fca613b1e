// The threaded load: the lines of a table filed into one read table per
// shard of the read names (by a hash of the name), one shard per member of
// a work crew.
//
// The reader hands out a batch of whole lines at a time, and the crew takes
// each batch in two steps:
//   1. Each member scans one stretch of the batch's lines (stretches end at
//      line ends): each line's end, verdict, name and shard, and its mate
//      as far as the stretch tells it. A line before the stretch's first
//      mate mark takes the mate that the stretches before end with, known
//      in step 2. The scan notes each complete line in a few bytes.
//   2. Each member splits and files the lines of its own shard, stretch
//      after stretch, in table order: a read's lines are all in one shard
//      and reach it in the order of the table, so each shard keeps the first
//      hit of each target as one loader reading the whole table would.
// So each line is scanned once and split once, as on one thread, and what
// passes from member to member is the scan's few bytes a line: on two cores,
// data written by one member and read by another costs more than the work.
// The buffer is only read in both steps (names are filed from copies of a
// member's own). The next bytes go into the reader's other buffer: from a
// plain file, the first member done with step 2 reads them while the
// others still file, so that a read costs no core a member needs. The counts
// behind the messages are kept per stretch and added up in stretch order,
// which gives the counts of one loader reading line by line.
#pragma once

#include <memory>
#include <vector>

#include "load_stats.h"
#include "read_table.h"
#include "readline.h"
#include "work_crew.h"

namespace pairhits {

class ShardedLoad {
 public:
  // One shard per member of `crew`, filed into tables[k]; both outlive it.
  ShardedLoad(std::vector<std::unique_ptr<ReadTable>>& tables, WorkCrew& crew);
  ~ShardedLoad();
  ShardedLoad(const ShardedLoad&) = delete;
  ShardedLoad& operator=(const ShardedLoad&) = delete;

  // As Loader::run: one table, the mate carrying over from the one before.
  load_status run(LineReader& reader, load_stats& stats, int table, const line_format& format);

 private:
  struct stretch;
  struct shard;
  void scan_stretch(stretch& s, const line_format& format);
  bool file_shard(int k, const line_format& format);
  void add_counts(load_stats& stats, unsigned long long& line_number, int table);
  bool take_batch(LineReader& reader, load_stats& stats, unsigned long long& line_number, int table,
                  const line_format& format);
  padded_view line_of(std::size_t start, std::size_t size) const;

  WorkCrew& crew_;
  std::vector<std::unique_ptr<stretch>> stretches_;
  std::vector<std::unique_ptr<shard>> shards_;
  std::int32_t mate_ = 0;  // the mate after the lines filed so far
  // The batch: the lines of one view (LF ends), or single lines.
  padded_view lines_;
  std::vector<padded_view> single_;
};

}  // namespace pairhits
