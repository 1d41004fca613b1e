// What a load saw, and how it ended: the counts behind the messages after
// it. The loader and the split count; the messages read them.
#pragma once

#include <string>

namespace pairhits {

struct line_format;

// write_failed and stopped are the split's (tools/part_split.h).
enum class load_status { ok, alloc_failed, realloc_failed, read_failed, write_failed, stopped };

// Counted as the load goes, for the messages after it.
struct load_stats {
  unsigned long long skipped = 0;        // incomplete lines, other than empty or '#' ones
  unsigned long long first_skipped = 0;  // line number of the first of them, within its table
  int first_skipped_table = 0;           // which table that line is in
  unsigned long long complete = 0;       // complete hit lines
  unsigned long long marked = 0;         // complete lines whose field 1 holds "/1" or "/2"
  unsigned long long mate1 = 0;          // complete lines filed under mate 1
  unsigned long long mate2 = 0;          // complete lines filed under mate 2 by a "/2"
  unsigned long long unmated = 0;        // complete lines read before any line named a mate
  bool default_columns = true;           // every complete line so far has BLAST's default columns
  const char* read_error = nullptr;      // why reading failed
  // The "# Fields:" header check (fields_header.h): the format to check the
  // first header against, null when the check does not run; whether a
  // header was seen, and the warning it gave (empty if it agreed).
  const line_format* header_format = nullptr;
  bool header_seen = false;
  std::string header_warning;
};

}  // namespace pairhits
