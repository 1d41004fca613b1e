// Merging reports: the reports of the parts of a split, each in byte-wise
// order of read names and with disjoint names, merged into the report of
// one run, in the same order. Each report's lines keep their order. A
// report out of order, or a name in two reports (a report given twice, or
// reports of different splits), is refused with status 1.
#pragma once

#include <csignal>
#include <string>
#include <vector>

namespace pairhits {

// Merges the reports at `paths` onto `out_fd`. When there are more reports
// than descriptors to spare, they are merged in rounds through files
// beside the first report, which are removed again. Returns the exit
// status, with its message on `err_fd`; -1 once *stop is set.
int merge_reports(const std::vector<std::string>& paths, int out_fd, int err_fd,
                  const volatile std::sig_atomic_t* stop = nullptr);

}  // namespace pairhits
