// The read tables of a run on several threads: one per shard of the read
// names, loaded (sharded_load.h) and reported (sharded_report.h) by one
// work crew. Gives the same report and counts as one read table loaded and
// reported on one thread.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "cli.h"
#include "load_stats.h"
#include "page_populator.h"
#include "progress.h"
#include "read_table.h"
#include "report_writer.h"
#include "work_crew.h"

namespace pairhits {

class ThreadedTables {
 public:
  // Up to `threads` threads, fewer if the system gives fewer.
  explicit ThreadedTables(int threads);
  ~ThreadedTables();

  bool ok() const;
  // Loads the tables one after the other, as one table; the progress line,
  // if any, is gone when this returns.
  load_status load(const table_input* tables, const line_format* formats, std::size_t count, std::size_t read_bytes,
                   Progress& progress, load_stats& stats);
  // Writes the report; false on a write error.
  bool report(ReportWriter& out);

 private:
  // Declared first, so that it outlives the arenas it serves.
  PagePopulator populator_;
  WorkCrew crew_;
  std::vector<std::unique_ptr<ReadTable>> tables_;
};

}  // namespace pairhits
