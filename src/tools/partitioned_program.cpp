// pairhits-partitioned: pairhits on tables larger than memory. Splits the tables by read name into PARTS parts in a
// work folder, runs pairhits on the parts, JOBS at a time, and merges their
// reports into the report of one run; the work folder is removed whatever
// happens, and a signal stops the parts and ends the run with 128 + its number.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "messages.h"
#include "part_runner.h"
#include "part_split.h"
#include "program_limits.h"
#include "programs.h"
#include "run_options.h"
#include "report_merge.h"
#include "split_layout.h"
#include "split_stats.h"
#include "table_source.h"

namespace pairhits {
namespace {

volatile std::sig_atomic_t g_signal = 0;
void on_signal(int signal) { g_signal = signal; }

// Memory a run needs per byte of table: about 0.55 on real tables; more
// for safety. Compressed tables are assumed to hold 5 times their size.
constexpr double kMemoryPerByte = 0.75;
constexpr double kCompressedRatio = 5.0;
constexpr double kUsableShare = 0.8;  // of the memory the system says is available
// Table bytes per part at most, by default: a bigger part's index outgrows
// the processor's caches and each line costs more. On the benchmark's
// shuffled table at 4x (650 MB), 2 parts took 3.8 s, 6 to 16 parts 3.2 s.
constexpr double kPartTableBytes = 128.0 * (1 << 20);

// Bytes of memory the system says are available, or 0 if unknown.
double available_memory() {
  std::FILE* f = std::fopen("/proc/meminfo", "r");
  if (f == nullptr) return 0;
  char line[256];
  double kib = 0;
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::sscanf(line, "MemAvailable: %lf kB", &kib) == 1) break;
  }
  std::fclose(f);
  return kib * 1024;
}

// Enough parts that JOBS of them at once fit in memory, at least JOBS, and
// parts of at most kPartTableBytes of table each (a multiple of JOBS of
// them, so that the last round is full).
int default_parts(const OpenTables& tables, int jobs) {
  double table_bytes = 0;
  for (std::size_t i = 0; i < tables.size(); ++i) {
    unsigned long long bytes = 0;
    bool compressed = false;
    // Standard input, a pipe: size unknown.
    if (!regular_table_size(tables.data()[i].fd, bytes, compressed)) continue;
    table_bytes += static_cast<double>(bytes) * (compressed ? kCompressedRatio : 1.0);
  }
  const double need = table_bytes * kMemoryPerByte;
  const double usable = available_memory() * kUsableShare;
  double parts = jobs;
  if (usable > 0 && need * jobs / usable > parts) parts = need * jobs / usable + 1;
  const double by_size = std::ceil(std::ceil(table_bytes / kPartTableBytes) / jobs) * jobs;
  parts = std::max(parts, by_size);
  return parts > kMaxParts ? kMaxParts : static_cast<int>(parts);
}

// Removes the work folder and what is in it (the program's own files only).
void remove_folder(const std::string& dir) {
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
        ::unlink((dir + "/" + e->d_name).c_str());
      }
    }
    ::closedir(d);
  }
  ::rmdir(dir.c_str());
}

// Split, run, merge; -1 when a signal stopped it.
int run(const OpenTables& tables, const run_options& options, const std::string& dir, int parts, int jobs, int threads,
        int out_fd, int err_fd) {
  const std::vector<line_format> formats = options.formats();
  int status = split_tables(tables.data(), formats.data(), tables.size(), dir, parts, err_fd, &g_signal);
  if (status != 0) return status;
  std::vector<int> ran;
  std::vector<std::string> part_options = part_run_options(options);
  part_options.insert(part_options.end(), {"--threads", std::to_string(threads)});
  status = run_parts("pairhits", part_options, dir, parts, jobs, err_fd, &g_signal, ran);
  if (status != 0) return status;
  split_stats stats;
  if (!read_split_stats(stats_path(dir).c_str(), stats)) {
    write_error_with_reason(err_fd, kProblemReadingText, stats_path(dir).c_str());
    return 1;
  }
  write_split_messages(err_fd, stats);
  std::vector<std::string> reports;
  for (int p : ran) reports.push_back(part_path(dir, p, ".out"));
  return merge_reports(reports, out_fd, err_fd, &g_signal);
}

}  // namespace

int pairhits_partitioned_main(int argc, const char* const* argv, int out_fd, int err_fd) {
  const command_line c = parse_command_line(argc, argv, valued_options({"-n", "-j", "-t", "--threads"}));
  const std::string usage = partitioned_usage_text();
  if (const int status = answer_without_running(c, "pairhits-partitioned", usage.c_str(), out_fd, err_fd);
      status >= 0) {
    return status;
  }
  int parts = 0;
  int jobs = 0;
  int threads = 0;
  for (const auto& [option, value] : c.values) {
    if ((option == "-t" || option == "--threads") && !parse_count(value, kMaxThreads, threads)) {
      return usage_error(err_fd, count_range_text("THREADS", kMaxThreads).c_str(), value);
    }
    if (option == "-n" && !parse_count(value, kMaxParts, parts)) {
      return usage_error(err_fd, count_range_text("PARTS", kMaxParts).c_str(), value);
    }
    if (option == "-j" && !parse_count(value, kMaxJobs, jobs)) {
      return usage_error(err_fd, count_range_text("JOBS", kMaxJobs).c_str(), value);
    }
  }
  run_options options;
  if (const int status = parse_run_options(c, options, err_fd); status >= 0) return status;
  OpenTables tables;
  if (const int status = open_tables(options.paths, tables, err_fd); status >= 0) return status;
  // By default the runs at once and the threads of each share the
  // processors: JOBS x THREADS of them.
  const int processors = usable_processors();
  if (jobs == 0) jobs = std::max(1, processors / std::max(1, threads));
  if (threads == 0) threads = std::max(1, processors / jobs);
  if (parts == 0) parts = default_parts(tables, jobs);

  struct sigaction action = {};
  action.sa_handler = on_signal;
  // SIGPIPE too: a reader of the report that goes away (head) ends the run
  // as it would end any filter, but the work folder goes first.
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(s, &action, nullptr);
  // A full file-size limit makes writes fail (and say so) instead of killing.
  std::signal(SIGXFSZ, SIG_IGN);

  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/pairhits.XXXXXX";
  if (::mkdtemp(dir.data()) == nullptr) {
    write_error_with_reason(err_fd, kNoWorkFolderText, std::strerror(errno));
    return 1;
  }
  const int status = run(tables, options, dir, parts, jobs, threads, out_fd, err_fd);
  remove_folder(dir);
  if (g_signal != 0) {
    std::signal(g_signal, SIG_DFL);
    std::raise(g_signal);
  }
  return status < 0 ? 1 : status;
}

}  // namespace pairhits
