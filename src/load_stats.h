// What a load saw, and how it ended: the counts behind the messages after
// it. The loader and the split count; the messages read them.
#pragma once

#include <string>

namespace pairhits {

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
  // The fields read (the name's, the values', the target's, from 0), for
  // the messages; the "# Fields:" header check (fields_header.h): whether it
  // runs, and the first header line, once one is seen.
  int fields_read[4] = {};
  bool check_header = false;
  std::string fields_header;
};

}  // namespace pairhits
