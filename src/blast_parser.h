// Pairing run: loads a BLAST hit table into one record per read name and
// reports, in byte-wise name order, every target that both mates hit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace pairhits {

// One hit kept for one mate of one read.
struct hit {
  const char* target;  // zero-terminated, owned by the run's StringArena
  double col3;
  double col7;
};

// The record of one read name, stored by value in the read index. Lists hold
// distinct targets in first-seen order and grow by doubling from one slot, so
// a list with n hits has room for bit_ceil(n).
struct elem {
  const char* name;  // zero-terminated, owned by the run's StringArena
  hit* hits1;        // mate 1; null while empty
  hit* hits2;        // mate 2, and every line whose mate is not 1; null while empty
  std::int32_t n_hits1;
  std::int32_t n_hits2;
};
static_assert(std::is_trivially_copyable_v<elem>, "index nodes move records with memmove");

// A record with the given name and two empty lists.
elem init_blast(const char* name);

// Releases the record's lists and empties it, so a second call does nothing.
// The strings belong to the arena; the record itself lives in an index node.
void free_elem(elem& r);

enum class add_result { added, duplicate, alloc_failed };

// Files h under mate 1 if `mate` is 1 and under mate 2 otherwise, unless that
// list already holds h's target: the first hit of a target is the one kept.
// A newly kept target's text is copied into `strings`.
class StringArena;
add_result add_hit(elem& r, std::int32_t mate, const hit& h, StringArena& strings);

// Owns every read name and kept target of a run: they are only released all
// together, so they are packed into large blocks instead of one heap block each.
class StringArena {
 public:
  StringArena() = default;
  ~StringArena();
  StringArena(const StringArena&) = delete;
  StringArena& operator=(const StringArena&) = delete;

  // A zero-terminated copy of `text`, or null if memory ran out.
  const char* copy(std::string_view text);

 private:
  struct block;
  block* blocks_ = nullptr;  // newest first
  char* next_ = nullptr;
  std::size_t room_ = 0;
};

// Splits a hit line at TABs in place. Fields are maximal runs of non-TAB
// bytes, numbered from 1. Field 1 sets `mate` to 1 if it contains "/1" and
// then to 2 if it contains "/2"; otherwise mate keeps its value. This happens
// whenever the line has a field 1, even if the line turns out incomplete.
//
// Returns true for a complete hit: at least nine fields, a field 1 of at least
// two bytes and no zero byte in the line. Then `name` is field 1 less its last
// two bytes, h.target is field 9, and h.col3 / h.col7 are fields 3 and 7 read
// as strtod reads them. name and h.target point into the line, which gets zero
// bytes written after them; the line's text is not usable afterwards.
bool parse_Blast_Line(char* line, std::size_t length, hit& h, char*& name, std::int32_t& mate);

// strtod's value for the zero-terminated field of `length` bytes at `field`.
double parse_number(const char* field, std::size_t length);

// Writes `value` as printf's "%g" does into `out` (room for 32 bytes) and
// returns the number of bytes written.
std::size_t format_g(double value, char* out);

// Runs the whole program: `args` as main's argc / argv, report on `out_fd`,
// messages on `err_fd`. Returns the exit status; never exits.
int pairhits_main(int argc, const char* const* argv, int out_fd, int err_fd);

// The load and report on an already open input; returns the exit status.
int pairhits_run(int in_fd, int out_fd, int err_fd);

}  // namespace pairhits
