#include "messages.h"

#include <cstdio>
#include <cstring>

#include "program_limits.h"
#include "report_writer.h"

namespace pairhits {

namespace {

const char kUsage[] =
    "Usage: pairhits TABLE...\n"
    "       pairhits [-f Q,A,B,T] [-m M1,M2] TABLE...\n"
    "       pairhits [-f Q,A,B,T] [-m M1,M2] -1 TABLE... -2 TABLE...\n"
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
    "  -f, --fields Q,A,B,T  the fields of the read name, of the two values shown\n"
    "                 side by side, and of the target (default 1,3,7,9); std is\n"
    "                 1,3,11,2, for the 12 default columns of BLAST (-outfmt 6),\n"
    "                 DIAMOND and MMseqs2\n"
    "  -m, --marks M1,M2  the mate marks that end the read name, such as .1,.2\n"
    "                 (fastq-dump --readids) or _1,_2\n"
    "  -1 TABLE, -2 TABLE  a table of mate 1's or of mate 2's hits (R1 and R2\n"
    "                 searched apart, with the same read names); a final \"/1\"\n"
    "                 or \"/2\" (M1 or M2 with --marks) is taken off the name\n"
    "  -t, --threads N  threads to use, 1 to 1024 (default: the processors this\n"
    "                 run may use, up to 64); the report is the same for every N\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "  --             end the options (a TABLE after it may begin with -)\n"
    "\n"
    "For example: pairhits -f std -1 r1.tsv -2 r2.tsv\n"
    "\n"
    "Exit status: 0 after a report (warnings may come with it on standard\n"
    "error); 1 when reading, writing or memory failed; 2 for a bad option;\n"
    "28 when a table cannot be opened or none is given.\n"
    "\n"
    "Full documentation: man pairhits\n";

const char kSplitUsage[] =
    "Usage: pairhits-split -n PARTS -o DIR [-f Q,A,B,T] [-m M1,M2] TABLE...\n"
    "       pairhits-split -n PARTS -o DIR [OPTIONS] -1 TABLE... -2 TABLE...\n"
    "Split BLAST hit tables (as pairhits reads them, with the same options: - is\n"
    "standard input, gzip and zstd are decompressed) into PARTS part tables\n"
    "DIR/part-NNNN.tsv by a hash of the read name, and write DIR/stats for\n"
    "pairhits-merge. PARTS is 1 to %d; DIR is made if it does not exist.\n"
    "\n"
    "Read the parts with pairhits and the same -f; with -m, or with -1 and -2,\n"
    "also with -m M1,M2 (-m /1,/2 if -m was not given).\n"
    "\n"
    "Full documentation: man pairhits-split\n";

const char kMergeUsage[] =
    "Usage: pairhits-merge [--stats FILE]... REPORT...\n"
    "Merge the reports of pairhits runs on the parts made by pairhits-split\n"
    "into the report of one run, in byte-wise order of read names. With the\n"
    "splits' stats files (in the order of their tables), also give the\n"
    "messages of one run over all the tables on standard error. Reports out of\n"
    "name order, a read name in two reports, and (with the stats) a number of\n"
    "reports other than the split's parts are refused (status 1).\n"
    "\n"
    "Full documentation: man pairhits-merge\n";

const char kPartitionedUsage[] =
    "Usage: pairhits-partitioned TABLE... [-n PARTS] [-j JOBS] [-t THREADS] [-f Q,A,B,T] [-m M1,M2]\n"
    "       pairhits-partitioned [OPTIONS] -1 TABLE... -2 TABLE...\n"
    "pairhits for tables larger than memory: split the tables into PARTS parts\n"
    "by read name (pairhits-split), run pairhits on the parts, JOBS at once,\n"
    "and merge their reports (pairhits-merge). The report and messages are\n"
    "those of one pairhits run. Work files go to TMPDIR (default /tmp).\n"
    "\n"
    "  -n PARTS  1 to %d (default: from the tables' size and free memory)\n"
    "  -j JOBS   1 to %d (default: the processors this run may use, divided by\n"
    "            THREADS)\n"
    "  -t, --threads THREADS  threads of each pairhits run, 1 to %d (default:\n"
    "            the processors divided by JOBS, at least 1)\n"
    "  -f, -m, -1, -2  as for pairhits (see pairhits --help)\n"
    "\n"
    "Full documentation: man pairhits-partitioned\n";

// printf into a string; the texts here are short.
template <typename... Args>
std::string format(const char* pattern, Args... args) {
  char text[4400];
  std::snprintf(text, sizeof text, pattern, args...);
  return text;
}

// WHAT and a name after it. Appended, not added ("literal" + std::string
// draws false warnings from GCC 12 under link-time optimisation).
std::string naming(const char* what, const std::string& name) {
  std::string text = what;
  text += ' ';
  text += name;
  return text;
}

}  // namespace


int not_found(int err_fd, const char* path) {
  if (path == nullptr) return write_message(err_fd, kNotFoundText) ? 28 : 255;
  return write_message(err_fd, format("ERROR: Blast file not found: %s\n", path).c_str()) ? 28 : 255;
}

void write_malloc_failed(int err_fd) { write_message(err_fd, kMallocFailedText); }
void write_realloc_failed(int err_fd) { write_message(err_fd, kReallocFailedText); }

void write_error_with_reason(int err_fd, const char* what, const char* reason) {
  char text[512];
  std::snprintf(text, sizeof text, "ERROR: %s: %s\n", what, reason);
  write_message(err_fd, text);
}

void write_error(int err_fd, const std::string& what) {
  std::string text = naming("ERROR:", what);
  text += '\n';
  write_message(err_fd, text.c_str());
}

void write_load_failure(int err_fd, load_status status, const load_stats& stats) {
  if (status == load_status::alloc_failed) write_malloc_failed(err_fd);
  if (status == load_status::realloc_failed) write_realloc_failed(err_fd);
  if (status == load_status::read_failed) write_error_with_reason(err_fd, kReadingTableText, stats.read_error);
}

std::string skip_warning_text(const load_stats& stats, const char* const* table_names) {
  std::string where;
  if (table_names != nullptr) {
    const char* name = table_names[stats.first_skipped_table];
    where = format(" of %s", std::strcmp(name, "-") == 0 ? "standard input" : name);
  }
  if (stats.skipped == 1) {
    return format("ERROR: 1 line without a complete hit was skipped, at line %llu%s\n", stats.first_skipped,
                  where.c_str());
  }
  return format("ERROR: %llu lines without a complete hit were skipped, the first at line %llu%s\n", stats.skipped,
                stats.first_skipped, where.c_str());
}

void write_skip_warning(int err_fd, const load_stats& stats, const char* const* table_names) {
  write_message(err_fd, skip_warning_text(stats, table_names).c_str());
}

void write_load_warnings(int err_fd, const load_stats& stats) {
  // The default-columns warning says the same, and first.
  if (!stats.fields_header.empty() && !(stats.complete > 0 && stats.default_columns)) {
    const header_check check = check_fields_header(stats.fields_header, stats.fields_read);
    if (!check.faults.empty()) write_message(err_fd, fields_header_text(check).c_str());
  }
  if (stats.complete == 0) {
    // Lines were skipped, none was a hit: empty input, or only comments, says nothing.
    if (stats.skipped > 0) write_message(err_fd, kNothingReadText);
    return;
  }
  if (stats.default_columns) write_message(err_fd, kDefaultColumnsText);
  if (stats.marked == 0) {
    // The name's column as the run reads it: column 1 unless --fields says another.
    std::string text = kNoMarksText;
    if (stats.fields_read[0] != 0) text.replace(text.find("column 1 "), 9, format("column %d ", stats.fields_read[0] + 1));
    write_message(err_fd, text.c_str());
  } else if (stats.mate1 == 0 || stats.mate2 == 0) {
    write_message(err_fd, stats.mate1 == 0 ? kOnlyMate2Text : kOnlyMate1Text);
  }
}

std::string fields_header_text(const header_check& check) {
  const std::vector<header_fault>& faults = check.faults;
  std::string text = "ERROR: by the table's \"# Fields:\" line,";
  for (std::size_t k = 0; k < faults.size(); ++k) {
    const header_fault& f = faults[k];
    text += k == 0 ? " " : k + 1 == faults.size() ? " and " : ", ";
    text += "field ";
    text += std::to_string(f.field);
    if (f.column.empty()) {
      text += " is not there";
    } else {
      text += " (\"";
      text += f.column;
      text += "\") is not ";
      text += f.read_as;
    }
  }
  text += "; give --fields ";
  text += check.fields.empty() ? "with the fields of the read name, the two values and the target" : check.fields;
  text += '\n';
  return text;
}

std::string unknown_option_text(const char* program) { return format("unknown option (see %s --help)", program); }

std::string count_range_text(const char* name, int max) {
  return format("%s must be a whole number from 1 to %d", name, max);
}

std::string fields_fault_text() {
  return format("--fields takes four field numbers Q,A,B,T from 1 to %d, or std", kMaxField);
}

std::string report_fault_text(const char* what, const std::string& file, unsigned long long line) {
  return format("%s: %s, line %llu", what, file.c_str(), line);
}

std::string report_count_text(int parts, std::size_t count, const std::string& stats) {
  return format("the split made %d parts and %zu reports were given: %s", parts, count, stats.c_str());
}

std::string cannot_make_text(const std::string& path) { return naming("cannot make", path); }
std::string problem_reading_text(const std::string& path) { return naming(kProblemReadingText, path); }
std::string problem_writing_text(const std::string& path) { return naming("problem writing", path); }
std::string cannot_run_text(const char* program) { return naming("cannot run", program); }

void write_part_failed(int err_fd, int part, int parts, int status) {
  write_message(err_fd, format("ERROR: pairhits failed on part %d of %d (status %d)\n", part + 1, parts, status).c_str());
}

const char* usage_text() { return kUsage; }
std::string split_usage_text() { return format(kSplitUsage, kMaxParts); }
const char* merge_usage_text() { return kMergeUsage; }
std::string partitioned_usage_text() { return format(kPartitionedUsage, kMaxParts, kMaxJobs, kMaxThreads); }

}  // namespace pairhits
