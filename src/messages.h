// What the four programs say: every message text, the warnings after a
// load, and the usage and version texts. Every message is one line on
// standard error beginning "ERROR: ". Limits in the texts come from the
// constants the parsers check (program_limits.h).
#pragma once

#include <string>

#include "fields_header.h"
#include "load_stats.h"

namespace pairhits {

// The columns pairhits reads, as blastn's -outfmt writes them.
#define PAIRHITS_OUTFMT "6 qseqid sseqid pident length mismatch gapopen evalue bitscore staxids"

inline constexpr char kNotFoundText[] = "ERROR: Blast file not found\n";
inline constexpr char kMallocFailedText[] = "ERROR: problem with malloc allocation as occured\n";
inline constexpr char kReallocFailedText[] = "ERROR: problem with realloc allocation as occured\n";

// The warnings after a load.
inline constexpr char kNoMarksText[] =
    "ERROR: no read name in column 1 ends in \"/1\" or \"/2\", so every hit counts as mate 2 and "
    "nothing can pair; for names such as read7.1 and read7.2 give --marks .1,.2, and for R1 and R2 "
    "tables with the same names give -1 R1.tsv -2 R2.tsv\n";
inline constexpr char kDefaultColumnsText[] =
    "ERROR: the table has BLAST's default -outfmt 6 columns, whose column 9 is a position, not a "
    "target; give --fields std (or run blastn with -outfmt \"" PAIRHITS_OUTFMT "\")\n";
inline constexpr char kNothingReadText[] =
    "ERROR: no line of the input is a hit line (nine TAB-separated columns, the read name first): "
    "is it a BLAST tabular table?\n";
inline constexpr char kOnlyMate1Text[] =
    "ERROR: every hit line is of mate 1; without mate 2's hits nothing can pair: "
    "give the tables of both mates, as -1 R1.tsv -2 R2.tsv\n";
inline constexpr char kOnlyMate2Text[] =
    "ERROR: every hit line is of mate 2; without mate 1's hits nothing can pair: "
    "give the tables of both mates, as -1 R1.tsv -2 R2.tsv\n";

// The warning for a "# Fields:" header that names fields read as of
// another kind (fields_header.h).
std::string fields_header_text(const header_check& check);

// The WHAT of "ERROR: WHAT: REASON" messages that more than one place gives.
inline constexpr char kReadingTableText[] = "problem reading Blast file";
inline constexpr char kWritingReportText[] = "problem writing the report";

// A table that cannot be opened (or none given): status 28, or 255 if even
// the message cannot be written. `path` is named when not null.
int not_found(int err_fd, const char* path);

void write_malloc_failed(int err_fd);
void write_realloc_failed(int err_fd);
// "ERROR: WHAT: REASON"
void write_error_with_reason(int err_fd, const char* what, const char* reason);
// "ERROR: WHAT"
void write_error(int err_fd, const std::string& what);

// The message for a load that ended with an allocation or read failure.
void write_load_failure(int err_fd, load_status status, const load_stats& stats);

// The skipped-lines message, naming the table of the first skipped line
// when `table_names` is not null.
std::string skip_warning_text(const load_stats& stats, const char* const* table_names);
void write_skip_warning(int err_fd, const load_stats& stats, const char* const* table_names);

// One line for each reason the load can see why the report will be empty
// or wrong: names without mate marks, one mate only, BLAST's default
// columns, nothing that reads as a hit line.
void write_load_warnings(int err_fd, const load_stats& stats);

// The command line's faults (status 2 follows them).
std::string unknown_option_text(const char* program);  // the WHAT of "ERROR: WHAT: OPTION"
inline constexpr char kMissingValueText[] = "option needs a value";
// "NAME must be a whole number from 1 to MAX"
std::string count_range_text(const char* name, int max);

// Faults of the run options (status 2 follows them); the WHAT of
// "ERROR: WHAT: VALUE".
std::string fields_fault_text();
inline constexpr char kMarksFaultText[] =
    "--marks takes two marks M1,M2, not empty, different, neither ending the other, without TAB, CR or LF";
inline constexpr char kNameFieldFaultText[] =
    "--fields: the read name's field cannot also be a value's or the target's";
inline constexpr char kMixedTablesText[] = "tables given with -1 or -2 cannot be mixed with tables given without";
inline constexpr char kStdinTwiceText[] = "standard input can be given once";

// The tools' own messages.
inline constexpr char kSplitUsageLine[] = "pairhits-split -n PARTS -o DIR TABLE...";
inline constexpr char kNoStatsFileText[] = "not a stats file of pairhits-split";
inline constexpr char kNoWorkFolderText[] = "cannot make a work folder in TMPDIR";
inline constexpr char kNoPartTablesText[] = "cannot make the part tables";
inline constexpr char kProblemReadingText[] = "problem reading";
// Reports that are not one split's parts (pairhits-merge).
inline constexpr char kReportOrderText[] = "a report out of read-name order";
inline constexpr char kReportTwiceText[] = "a read name in two reports (one given twice, or not one split's parts)";
// "WHAT: FILE, line N"
std::string report_fault_text(const char* what, const std::string& file, unsigned long long line);
// "the split made PARTS parts and COUNT reports were given: STATS"
std::string report_count_text(int parts, std::size_t count, const std::string& stats);
inline constexpr char kPartsDifferText[] = "the splits made different numbers of parts";
std::string cannot_make_text(const std::string& path);     // "cannot make PATH"
std::string problem_reading_text(const std::string& path); // "problem reading PATH"
std::string problem_writing_text(const std::string& path); // "problem writing PATH"
std::string cannot_run_text(const char* program);          // "cannot run PROGRAM"
// After a part's own messages: which part failed, counted from 1.
void write_part_failed(int err_fd, int part, int parts, int status);

// The usage texts of the four programs.
const char* usage_text();
std::string split_usage_text();
const char* merge_usage_text();
std::string partitioned_usage_text();

}  // namespace pairhits
