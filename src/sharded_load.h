// The threaded load: the lines of a table filed into one read table per
// shard of the read names, by all the members of a work crew.
//
// The reader hands out a batch of whole lines at a time, and the crew takes
// each batch in two steps:
//   1. Each member reads the fields of one stretch of the batch's lines
//      (stretches split at line ends): the verdict, the name and its hash,
//      the target, the two numbers, and the mate as far as the stretch
//      tells it. A line before the stretch's first mate mark takes the mate
//      that the stretches before it end with, found in step 2.
//   2. Each member files the lines of its own shard, stretch after stretch,
//      in table order: a read's lines are all in one shard and reach it in
//      the order of the table, so each shard keeps the first hit of each
//      target as one loader reading the whole table would.
// The buffer is only read in both steps, and the reader reads again only
// after step 2: no member writes what another reads. The counts behind the
// messages are kept per stretch and added up in stretch order after each
// batch, which gives the counts of one loader reading line by line.
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
  void read_stretch(stretch& s, const line_format& format);
  bool file_shard(int k);
  void add_counts(load_stats& stats, unsigned long long& line_number, int table);
  bool take_batch(load_stats& stats, unsigned long long& line_number, int table, const line_format& format);

  WorkCrew& crew_;
  std::vector<std::unique_ptr<stretch>> stretches_;
  std::vector<std::unique_ptr<shard>> shards_;
  std::int32_t mate_ = 0;  // the mate after the lines filed so far
  // The batch: the lines of one view (LF ends), or single lines.
  padded_view lines_;
  std::vector<padded_view> single_;
};

}  // namespace pairhits
