// The tools for tables larger than memory, each a function of the library:
// given main's argument vector and the descriptors of the report and of
// the messages, it runs the program and returns its exit status.
#pragma once

namespace pairhits {

// pairhits-split -n PARTS -o DIR TABLE...
int pairhits_split_main(int argc, const char* const* argv, int out_fd, int err_fd);

// pairhits-merge [--stats FILE]... REPORT...
int pairhits_merge_main(int argc, const char* const* argv, int out_fd, int err_fd);

// pairhits-partitioned TABLE... [-n PARTS] [-j JOBS]. It catches SIGINT,
// SIGTERM, SIGHUP and SIGPIPE while it runs; one that arrives stops the
// parts, removes the work folder and is raised again, so that it ends the
// process as it would have.
int pairhits_partitioned_main(int argc, const char* const* argv, int out_fd, int err_fd);

}  // namespace pairhits
