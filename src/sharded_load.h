// The threaded load: the lines of a table filed into one read table per
// shard of the read names (by a hash of the name), one shard per member of
// a work crew.
//
// The reader hands out a batch of whole lines at a time, cut into stretches
// that end at line ends, and the crew takes each batch in two steps:
//   1. The members scan the stretches, taking them in turn: each line's
//      end, verdict, name and shard, and its mate as far as the stretch
//      tells it. A line before the stretch's first mate mark takes the mate
//      that the stretches before end with, known in step 2. The scan notes
//      each complete line in a few bytes, in a list per shard, with where
//      its name and fields 3, 7 and 9 are when it located them.
//   2. Each member files the lines of its own shard (splitting those whose
//      fields step 1 did not locate), stretch after stretch, in table
//      order: a read's lines are all in one shard and reach it in the
//      order of the table, so each shard keeps the first hit of each
//      target as one loader reading the whole table would.
// So each line is scanned once and split at most once, and what
// passes from member to member is the scan's few bytes a line: on two cores,
// data written by one member and read by another costs more than the work.
// The buffer is only read in both steps (names are filed from copies of a
// member's own).
//
// Batches overlap. The first member done filing batch i adds up its counts,
// reads the next bytes into the reader's other buffer and hands out batch
// i + 1, while the others still file batch i; each member scans stretches
// of batch i + 1 as soon as it is done with batch i, so one that files less
// scans more, and the only meeting is between the steps. That is sound
// because each batch has stretches of its own, and handing out batch i + 1
// leaves the bytes of batch i as they are (LineReader::read_lines, not
// moving them): the buffer of batch i - 1 is read into again only by the
// one handing out batch i + 1, after the meeting of batch i, which every
// member reaches after filing batch i - 1. When the reader cannot hand out
// lines that way (a long line to move, lines with CR ends, reads on a
// thread of their own), the crew stops after the batch, and the next one
// is read with no batch in flight. The counts behind the messages are kept
// per stretch and added up in stretch order, which gives the counts of one
// loader reading line by line.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
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
  struct batch;
  struct shard;
  bool read_batch(LineReader& reader, batch& b, read_result& r);
  void cut(batch& b);
  void take_batches(int k, LineReader& reader, const line_format& format);
  void hand_out(LineReader& reader, std::size_t next);
  void scan_stretch(const batch& b, stretch& s, const line_format& format);
  bool file_shard(int k, const batch& b, const line_format& format);
  void add_counts(const batch& b);

  WorkCrew& crew_;
  std::vector<std::unique_ptr<shard>> shards_;
  std::unique_ptr<batch> batches_[2];  // batch n of a crew's run is batches_[n % 2]
  // Of the table being loaded; changed by one member at a time (the one
  // handing out the next batch) or by the caller.
  load_stats* stats_ = nullptr;
  unsigned long long line_number_ = 0;
  int table_ = 0;
  std::int32_t mate_ = 0;  // the mate after the lines counted so far
  std::atomic<bool> failed_{false};  // memory ran out while filing
  // Batches handed out in the crew's run, and whether no more will be.
  std::mutex lock_;
  std::condition_variable handed_out_;
  std::size_t handed_ = 0;
  bool stopped_ = false;
};

}  // namespace pairhits
