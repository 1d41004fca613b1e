#include "messages.h"

#include <cstdio>
#include <cstring>

#include "report_writer.h"

namespace pairhits {

namespace {
const char kNotFound[] = "ERROR: Blast file not found\n";
const char kMallocFailed[] = "ERROR: problem with malloc allocation as occured\n";
const char kReallocFailed[] = "ERROR: problem with realloc allocation as occured\n";

// The columns pairhits reads, as blastn's -outfmt writes them.
#define PAIRHITS_OUTFMT "6 qseqid sseqid pident length mismatch gapopen evalue bitscore staxids"

const char kNoMarks[] =
    "ERROR: no read name in column 1 ends in \"/1\" or \"/2\", so every hit counts as mate 2 and "
    "nothing can pair; pairhits expects names such as read7/1 and read7/2\n";
const char kDefaultColumns[] =
    "ERROR: the table has BLAST's default -outfmt 6 columns, whose column 9 is a position, not a "
    "target; run blastn with -outfmt \"" PAIRHITS_OUTFMT "\"\n";
const char kNothingRead[] =
    "ERROR: no line of the input is a hit line (nine TAB-separated columns, the read name first): "
    "is it a BLAST tabular table?\n";

const char kUsage[] =
    "Usage: pairhits TABLE...\n"
    "Print, for every read of a paired-end BLAST search, each target that both\n"
    "mates hit, with the two mates' identities and e-values side by side.\n"
    "\n"
    "TABLE is a tab-separated BLAST hit table, one hit per line; - is standard\n"
    "input. Several tables are read in order as one table (for example the\n"
    "tables of R1 and of R2). gzip (also bgzip) and zstd tables are\n"
    "decompressed as they are read.\n"
    "\n"
    "Columns read: 1, the read name with its mate suffix \"/1\" or \"/2\"; 3 and 7,\n"
    "two numbers (identity and e-value); 9, the target. blastn writes them with\n"
    "  -outfmt \"" PAIRHITS_OUTFMT "\"\n"
    "\n"
    "Report, in byte-wise order of read names, one line per target both mates hit:\n"
    "  NAME<TAB>COL3_MATE1,COL3_MATE2<TAB>COL7_MATE1,COL7_MATE2<TAB>TARGET\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "  --             end the options (a TABLE after it may begin with -)\n"
    "\n"
    "Exit status: 0 after a report (warnings may come with it on standard\n"
    "error); 1 when reading, writing or memory failed; 2 for a bad option;\n"
    "28 when a table cannot be opened or none is given.\n"
    "\n"
    "Full documentation: man pairhits\n";
#undef PAIRHITS_OUTFMT
}  // namespace

int not_found(int err_fd, const char* path) {
  if (path == nullptr) return write_message(err_fd, kNotFound) ? 28 : 255;
  char text[4200];
  std::snprintf(text, sizeof text, "ERROR: Blast file not found: %s\n", path);
  return write_message(err_fd, text) ? 28 : 255;
}

void write_malloc_failed(int err_fd) { write_message(err_fd, kMallocFailed); }
void write_realloc_failed(int err_fd) { write_message(err_fd, kReallocFailed); }

void write_error_with_reason(int err_fd, const char* what, const char* reason) {
  char text[512];
  std::snprintf(text, sizeof text, "ERROR: %s: %s\n", what, reason);
  write_message(err_fd, text);
}

void write_load_failure(int err_fd, load_status status, const load_stats& stats) {
  if (status == load_status::alloc_failed) write_malloc_failed(err_fd);
  if (status == load_status::realloc_failed) write_realloc_failed(err_fd);
  if (status == load_status::read_failed) write_error_with_reason(err_fd, "problem reading Blast file", stats.read_error);
}

void write_skip_warning(int err_fd, const load_stats& stats, const char* const* table_names) {
  char where[4200] = "";
  if (table_names != nullptr) {
    const char* name = table_names[stats.first_skipped_table];
    std::snprintf(where, sizeof where, " of %s", std::strcmp(name, "-") == 0 ? "standard input" : name);
  }
  char text[4400];
  if (stats.skipped == 1) {
    std::snprintf(text, sizeof text, "ERROR: 1 line without a complete hit was skipped, at line %llu%s\n",
                  stats.first_skipped, where);
  } else {
    std::snprintf(text, sizeof text,
                  "ERROR: %llu lines without a complete hit were skipped, the first at line %llu%s\n",
                  stats.skipped, stats.first_skipped, where);
  }
  write_message(err_fd, text);
}

void write_load_warnings(int err_fd, const load_stats& stats) {
  if (stats.complete == 0) {
    // Lines were skipped, none was a hit: empty input, or only comments, says nothing.
    if (stats.skipped > 0) write_message(err_fd, kNothingRead);
    return;
  }
  if (stats.default_columns) write_message(err_fd, kDefaultColumns);
  if (stats.marked == 0) {
    write_message(err_fd, kNoMarks);
  } else if (stats.mate1 == 0 || stats.mate2 == 0) {
    write_message(err_fd, stats.mate1 == 0
                              ? "ERROR: every hit line is of mate 2 (\"/2\"); without mate 1's hits nothing can pair: "
                                "give the tables of both mates\n"
                              : "ERROR: every hit line is of mate 1 (\"/1\"); without mate 2's hits nothing can pair: "
                                "give the tables of both mates\n");
  }
}

const char* usage_text() { return kUsage; }

}  // namespace pairhits
