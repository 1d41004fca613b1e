// What a split saw of its tables, kept beside its parts so that the messages
// of one run over all the tables can be given after the parts have run.
//
// Several splits (of chunk tables split one by one, in order) combine into
// the counts of one load over all their tables. Complete lines that come
// before any line of a split named a mate carry the mate of the split
// before, which that split did not know: they are counted apart
// (`unmated`) and filed under the previous split's last mate when combined.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "load_stats.h"

namespace pairhits {

struct split_stats {
  load_stats counts;
  std::int32_t last_mate = 0;       // the mate after the last line, 0 if no line named one
  int parts = 0;                    // the parts the split made; 0 if not known (an older stats file)
  std::vector<std::string> tables;  // the names given for the tables, in order
};

// Writes the stats to `path`; false on a write error (errno says why).
bool write_split_stats(const char* path, const split_stats& stats);

// Reads stats written by write_split_stats; false if the file cannot be
// read or is not such a file.
bool read_split_stats(const char* path, split_stats& stats);

// The counts of one load over the tables of `splits`, in order, and the
// names of all their tables.
split_stats combine_split_stats(const std::vector<split_stats>& splits);

// The messages of one load with these counts over these tables: the
// skipped-lines message (naming the table when there are several) and the
// warnings.
void write_split_messages(int err_fd, const split_stats& stats);

}  // namespace pairhits
