// Pairing run: loads a BLAST hit table into one record per read name and
// reports, in byte-wise name order, every target that both mates hit.
//
// This unit holds the records and their operations, the line splitter's
// interface, the load and report phases and the program's entry; the work
// itself is done by the units named in docs/design.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "line_rules.h"
#include "read_ahead.h"
#include "record_memory.h"

namespace pairhits {

// One hit kept for one mate of one read.
struct hit {
  const char* target;  // zero-terminated, kept once per distinct text by the run's RecordMemory
  double col3;
  double col7;
};

// The record of one read name, stored by value in the read index. Lists hold
// distinct targets in first-seen order and grow by doubling from one slot, so
// a list with n hits has room for bit_ceil(n).
struct elem {
  const char* name;  // zero-terminated, owned by the run's RecordMemory
  hit* hits1;        // mate 1; null while empty
  hit* hits2;        // mate 2, and every line whose mate is not 1; null while empty
  std::int32_t n_hits1;
  std::int32_t n_hits2;
};
static_assert(std::is_trivially_copyable_v<elem>, "index nodes move records with memmove");

// A record with the given name and two empty lists.
elem init_blast(const char* name);

// Releases the record's lists into `memory` and empties it, so a second call
// does nothing. The record itself lives in an index node.
void free_elem(elem& r, RecordMemory& memory);

// Files h under mate 1 if `mate` is 1 and under mate 2 otherwise, unless that
// list already holds h's target: the first hit of a target is the one kept.
// h.target must be a text kept by `memory` (RecordMemory::keep_target).
add_result add_kept_hit(elem& r, std::int32_t mate, const hit& h, RecordMemory& memory);

// Splits a hit line in place (see hit_splitter.h for the rules). Returns
// true for a complete hit: then `name` is field 1 less its last two bytes,
// h.target is field 9, and h.col3 / h.col7 are fields 3 and 7 read as strtod
// reads them. name and h.target point into the line.
bool parse_Blast_Line(padded_view line, hit& h, char*& name, std::int32_t& mate);

// Runs the whole program: `args` as main's argc / argv, report on `out_fd`,
// messages on `err_fd`. Returns the exit status; never exits.
int pairhits_main(int argc, const char* const* argv, int out_fd, int err_fd);

// The load and report on an already open input, its lines read by
// `format`, on `threads` threads; returns the exit status. The input is
// read `read_bytes` at a time (tests and fuzzing use small reads).
int pairhits_run(int in_fd, int out_fd, int err_fd, std::size_t read_bytes = std::size_t{1} << 20,
                 const line_format& format = line_format(), int threads = 1);

}  // namespace pairhits
