#include "blast_parser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "hit_splitter.h"
#include "loader.h"
#include "numbers.h"
#include "read_table.h"
#include "readline.h"
#include "record_memory.h"
#include "report_writer.h"

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
  if (find_target(list, count, h.target) >= 0) return add_result::duplicate;
  return memory.append(list, count, h) ? add_result::added : add_result::alloc_failed;
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

load_status parse_blast_alignment(LineReader& reader, ReadTable& table, load_stats& stats) {
  Loader loader(table);
  return loader.run(reader, stats);
}

// Prints every target that both mates of a read hit, releasing each record's
// lists once printed. Returns false on a write error.
bool report(ReadTable& table, ReportWriter& out) {
  const auto touch = [](const elem& r) {
    fetch_lists(r);
    __builtin_prefetch(r.name);
  };
  const bool written = walk_ahead(table.index(), touch, [&](elem& r) {
    // Targets are distinct within a list: each of mate 1's has one partner at most.
    for (std::int32_t i = 0; i < r.n_hits1; ++i) {
      const std::int32_t j = find_target(r.hits2, r.n_hits2, r.hits1[i].target);
      if (j >= 0) out.line(r.name, r.hits1[i], r.hits2[j]);
    }
    free_elem(r, table.memory());
    return !out.failed();
  });
  if (!written) return false;
  table.lists_released();
  out.flush();
  return !out.failed();
}

const char kNotFound[] = "ERROR: Blast file not found\n";
const char kMallocFailed[] = "ERROR: problem with malloc allocation as occured\n";
const char kReallocFailed[] = "ERROR: problem with realloc allocation as occured\n";

void write_error_with_reason(int err_fd, const char* what, int error_number) {
  char text[256];
  std::snprintf(text, sizeof text, "ERROR: %s: %s\n", what, std::strerror(error_number));
  write_message(err_fd, text);
}

void write_skip_warning(int err_fd, const load_stats& stats) {
  char text[160];
  if (stats.skipped == 1) {
    std::snprintf(text, sizeof text, "ERROR: 1 line without a complete hit was skipped, at line %llu\n",
                  stats.first_skipped);
  } else {
    std::snprintf(text, sizeof text,
                  "ERROR: %llu lines without a complete hit were skipped, the first at line %llu\n",
                  stats.skipped, stats.first_skipped);
  }
  write_message(err_fd, text);
}

int not_found(int err_fd) { return write_message(err_fd, kNotFound) ? 28 : 255; }

}  // namespace

int pairhits_run(int in_fd, int out_fd, int err_fd, std::size_t read_bytes) {
  ReadTable table;
  LineReader reader(in_fd, read_bytes, read_bytes);
  if (!table.ok() || !reader.ok()) {
    write_message(err_fd, kMallocFailed);
    return 1;
  }
  load_stats stats;
  switch (parse_blast_alignment(reader, table, stats)) {
    case load_status::ok:
      break;
    case load_status::alloc_failed:
      write_message(err_fd, kMallocFailed);
      return 1;
    case load_status::realloc_failed:
      write_message(err_fd, kReallocFailed);
      return 1;
    case load_status::read_failed:
      write_error_with_reason(err_fd, "problem reading Blast file", stats.read_errno);
      return 1;
  }
  if (stats.skipped > 0) write_skip_warning(err_fd, stats);

  ReportWriter out(out_fd);
  if (!report(table, out)) {
    write_error_with_reason(err_fd, "problem writing the report", out.error_number());
    return 1;
  }
  return 0;
}

int pairhits_main(int argc, const char* const* argv, int out_fd, int err_fd) {
  if (argc < 2 || argv[1] == nullptr) return not_found(err_fd);
  int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) return not_found(err_fd);
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return not_found(err_fd);
  }
  if (fd <= 2) {
    // A closed standard stream must not be aliased by the table: output
    // written to it would otherwise land in (or fail on) the input.
    int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    if (high < 0) return not_found(err_fd);
    fd = high;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  int status = pairhits_run(fd, out_fd, err_fd);
  ::close(fd);
  return status;
}

}  // namespace pairhits
