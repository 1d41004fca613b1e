// Running pairhits on the parts of a split, a few at a time, each with its
// report in a file beside its part and its messages collected in memory
// (so that a full folder cannot swallow them).
#pragma once

#include <csignal>
#include <string>
#include <vector>

namespace pairhits {

// Runs `program` (found through PATH), with the arguments `options` before
// the part table, on each part in `dir`, at most `jobs`
// at once, each with its report in DIR/part-NNNN.out. On the first part
// that fails, stops the others and writes that part's messages and a line
// naming it on `err_fd`; returns 1. Returns -1, with every part stopped,
// once *stop is set; 0 when every part succeeded (their messages, which
// the merge gives for the whole, are dropped). A part's table is removed
// as soon as its run has succeeded. A part that holds only comment lines
// (the split's mate marks) would give an empty report and no message: it
// is not run, and its number goes into `reports` only if it ran.
int run_parts(const char* program, const std::vector<std::string>& options, const std::string& dir, int parts, int jobs, int err_fd,
              const volatile std::sig_atomic_t* stop, std::vector<int>& reports);

}  // namespace pairhits
