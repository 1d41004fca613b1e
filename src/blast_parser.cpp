#include "blast_parser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "cli.h"
#include "hit_splitter.h"
#include "loader.h"
#include "messages.h"
#include "program_limits.h"
#include "progress.h"
#include "numbers.h"
#include "read_table.h"
#include "readline.h"
#include "record_memory.h"
#include "report_writer.h"
#include "run_options.h"
#include "table_source.h"
#include "threaded_tables.h"

namespace pairhits {

// ---------------------------------------------------------------- records --

elem init_blast(const char* name) { return elem{name, nullptr, nullptr, 0, 0}; }

void free_elem(elem& r, RecordMemory& memory) {
  memory.release_list(r.hits1, r.n_hits1);
  memory.release_list(r.hits2, r.n_hits2);
  r.hits1 = nullptr;
  r.hits2 = nullptr;
  r.n_hits1 = 0;
  r.n_hits2 = 0;
}

add_result add_kept_hit(elem& r, std::int32_t mate, const hit& h, RecordMemory& memory) {
  hit*& list = mate == 1 ? r.hits1 : r.hits2;
  std::int32_t& count = mate == 1 ? r.n_hits1 : r.n_hits2;
  return memory.add(list, count, h);
}

bool parse_Blast_Line(padded_view line, hit& h, char*& name, std::int32_t& mate) {
  hit_fields fields;
  if (!split_hit_line(line, fields, mate)) return false;
  name = fields.name.data();
  h.target = fields.target.data();
  h.col3 = parse_number(fields.col3.data(), fields.col3.size());
  h.col7 = parse_number(fields.col7.data(), fields.col7.size());
  return true;
}

// ------------------------------------------------------------------- run --

namespace {

// The read table of a run on one thread.
class OneTable {
 public:
  bool ok() const { return table_.ok(); }

  // Loads the tables one after the other, as one table. The progress line,
  // if any, is gone when this returns.
  load_status load(const table_input* tables, const line_format* formats, std::size_t count, std::size_t read_bytes,
                   Progress& progress, load_stats& stats) {
    Loader loader(table_);
    load_status status = load_status::ok;
    for (std::size_t i = 0; i < count && status == load_status::ok; ++i) {
      TableSource source(tables[i].fd, &progress);
      LineReader reader(source, read_bytes, read_bytes, read_ahead::on_thread);
      status = reader.ok() ? loader.run(reader, stats, static_cast<int>(i), formats[i]) : load_status::alloc_failed;
    }
    progress.finish();
    return status;
  }

  // Prints every target that both mates of a read hit, releasing each
  // record's lists once printed. Returns false on a write error.
  bool report(ReportWriter& out) {
    const auto touch = [](const elem& r) {
      fetch_lists(r);
      __builtin_prefetch(r.name);
    };
    const bool written = walk_ahead(table_.index(), touch, [&](elem& r) {
      std::string_view name;  // measured at the first pair (no data until then)
      for_each_pair(r, [&](const hit& a, const hit& b) {
        if (name.data() == nullptr) name = r.name;
        out.line(name, a, b);
      });
      free_elem(r, table_.memory());
      return !out.failed();
    });
    if (!written) return false;
    table_.lists_released();
    out.flush();
    return !out.failed();
  }

 private:
  ReadTable table_;
};

// The load, its messages and the report on `tables` (OneTable or
// ThreadedTables); returns the exit status.
template <typename Tables>
int run_on(Tables& table, const table_input* tables, const line_format* formats, std::size_t count,
           const char* const* names, int out_fd, int err_fd, std::size_t read_bytes, unsigned long long total_bytes) {
  if (!table.ok()) {
    write_malloc_failed(err_fd);
    return 1;
  }
  Progress progress(err_fd, total_bytes);
  load_stats stats;
  begin_counts(stats, formats[0]);
  const load_status loaded = table.load(tables, formats, count, read_bytes, progress, stats);
  if (loaded != load_status::ok) {
    write_load_failure(err_fd, loaded, stats);
    return 1;
  }
  if (stats.skipped > 0) write_skip_warning(err_fd, stats, names);
  write_load_warnings(err_fd, stats);

  ReportWriter out(out_fd);
  if (!table.report(out)) {
    write_error_with_reason(err_fd, kWritingReportText, std::strerror(out.error_number()));
    return 1;
  }
  return 0;
}

int run_tables(const table_input* tables, const line_format* formats, std::size_t count, const char* const* names,
               int out_fd, int err_fd, std::size_t read_bytes, unsigned long long total_bytes, int threads) {
  if (threads <= 1) {
    OneTable table;
    return run_on(table, tables, formats, count, names, out_fd, err_fd, read_bytes, total_bytes);
  }
  ThreadedTables table(threads);
  return run_on(table, tables, formats, count, names, out_fd, err_fd, read_bytes, total_bytes);
}

}  // namespace

int pairhits_run(int in_fd, int out_fd, int err_fd, std::size_t read_bytes, const line_format& format, int threads) {
  const table_input table{"-", in_fd};
  return run_tables(&table, &format, 1, nullptr, out_fd, err_fd, read_bytes, 0, threads);
}

int pairhits_main(int argc, const char* const* argv, int out_fd, int err_fd) {
  const command_line c = parse_command_line(argc, argv, valued_options({"-t", "--threads"}));
  if (const int status = answer_without_running(c, "pairhits", usage_text(), out_fd, err_fd); status >= 0) {
    return status;
  }
  run_options options;
  if (const int status = parse_run_options(c, options, err_fd); status >= 0) return status;
  int threads = std::min(usable_processors(), kDefaultThreadsCap);
  for (const auto& [option, value] : c.values) {
    if ((option == "-t" || option == "--threads") && !parse_count(value, kMaxThreads, threads)) {
      return usage_error(err_fd, count_range_text("THREADS", kMaxThreads).c_str(), value);
    }
  }
  OpenTables tables;
  if (const int status = open_tables(options.paths, tables, err_fd); status >= 0) return status;
  const std::vector<line_format> formats = options.formats();
  return run_tables(tables.data(), formats.data(), tables.size(), options.paths.size() > 1 ? options.paths.data() : nullptr,
                    out_fd, err_fd, LineReader::kBackgroundCapacity, tables.total_bytes(), threads);
}

}  // namespace pairhits
