#include "threaded_tables.h"

#include "readline.h"
#include "sharded_load.h"
#include "sharded_report.h"
#include "table_source.h"

namespace pairhits {

ThreadedTables::ThreadedTables(int threads) : crew_(threads) {
  for (int k = 0; k < crew_.size(); ++k) tables_.push_back(std::make_unique<ReadTable>(&populator_));
}

ThreadedTables::~ThreadedTables() = default;

bool ThreadedTables::ok() const {
  for (const auto& t : tables_) {
    if (!t->ok()) return false;
  }
  return true;
}

load_status ThreadedTables::load(const table_input* tables, const line_format* formats, std::size_t count,
                                 std::size_t read_bytes, Progress& progress, load_stats& stats) {
  ShardedLoad load(tables_, crew_);
  load_status status = load_status::ok;
  for (std::size_t i = 0; i < count && status == load_status::ok; ++i) {
    TableSource source(tables[i].fd, &progress);
    // A plain file's next bytes are a copy out of the page cache: the member
    // that hands out a batch makes it, rather than a thread of its own that
    // would take a core from a member. A pipe is drained, and compressed
    // data decoded, on a thread of their own, which overlaps with the work.
    unsigned long long bytes = 0;
    bool compressed = true;
    const bool plain_file = regular_table_size(tables[i].fd, bytes, compressed) && !compressed;
    LineReader reader(source, read_bytes, read_bytes, plain_file ? read_ahead::on_request : read_ahead::on_thread);
    status = reader.ok() ? load.run(reader, stats, static_cast<int>(i), formats[i]) : load_status::alloc_failed;
  }
  progress.finish();
  return status;
}

bool ThreadedTables::report(ReportWriter& out) { return report_shards(tables_, crew_, out); }

}  // namespace pairhits
