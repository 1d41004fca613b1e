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

// Holds the strings and hit lists of all records of a run. Strings are only
// released all together, so they are packed into large blocks; a target's
// text is kept once however many hits name it, so equal targets are one
// pointer. Hit lists come in capacities of powers of two; a released list is
// kept for reuse by a list of the same capacity. Everything is released when
// the RecordMemory goes.
class RecordMemory {
 public:
  RecordMemory() = default;
  ~RecordMemory();
  RecordMemory(const RecordMemory&) = delete;
  RecordMemory& operator=(const RecordMemory&) = delete;

  // A zero-terminated copy of `text`, or null if memory ran out.
  const char* copy(std::string_view text);

  // The kept copy of a target's text, made on its first request; every
  // request for the same text returns the same pointer. Null if memory ran
  // out. `text` holds no zero byte.
  const char* keep_target(std::string_view text);
  // The same, given the text's first bytes up to 8 as a word (the rest zero,
  // byte 0 lowest), which the caller may have at hand more cheaply.
  const char* keep_target(std::string_view text, std::uint64_t head);

  // A list with room for twice `count` hits (one if count is 0) holding the
  // `count` hits of the full list `list`, which is released. Long lists also
  // get a table of their targets (see find_target). Null, with `list`
  // untouched, if memory ran out.
  hit* grow_list(hit* list, std::int32_t count);

  // Releases a list that holds `count` hits; null lists are ignored.
  void release_list(hit* list, std::int32_t count);

 private:
  // Lists of up to 2^kPooledClasses hits are carved from the blocks; longer
  // ones are heap blocks of their own.
  static constexpr int kPooledClasses = 10;
  static std::size_t list_bytes(int capacity_class);

  struct region {
    char* next = nullptr;
    std::size_t room = 0;
  };
  void* carve(region& r, std::size_t bytes, std::size_t align);

  struct block;
  block* blocks_ = nullptr;  // every block, newest first
  std::size_t next_block_bytes_ = 4096;  // doubles up to a limit: small tables stay small
  region text_;
  region lists_;
  hit* free_lists_[kPooledClasses + 1] = {};  // released lists by capacity class

  // The kept targets: open addressing, at most half full.
  struct kept_target {
    const char* text;      // null: empty slot
    std::uint64_t head;    // the text's first 8 bytes (zero-padded): short texts compare in one step
    std::uint32_t hash;    // of the text; also places the slot
    std::uint32_t length;  // the text's length, or UINT32_MAX for that length or more
  };
  bool grow_targets();
  kept_target* targets_ = nullptr;
  std::size_t target_slots_ = 0;  // a power of two, or 0
  std::size_t target_count_ = 0;
};

// A record with the given name and two empty lists.
elem init_blast(const char* name);

// Releases the record's lists into `memory` and empties it, so a second call
// does nothing. The record itself lives in an index node.
void free_elem(elem& r, RecordMemory& memory);

// The position of `target`, a text kept by the run's RecordMemory (see
// keep_target), among the `count` hits of a list, or -1.
std::int32_t find_target(hit* list, std::int32_t count, const char* target);

enum class add_result { added, duplicate, alloc_failed };

// Files h under mate 1 if `mate` is 1 and under mate 2 otherwise, unless that
// list already holds h's target: the first hit of a target is the one kept.
// h.target may be any zero-terminated text; the hit filed holds the text
// kept by `memory`.
add_result add_hit(elem& r, std::int32_t mate, const hit& h, RecordMemory& memory);

// The same, for a hit whose target is already a text kept by `memory`.
add_result add_kept_hit(elem& r, std::int32_t mate, const hit& h, RecordMemory& memory);

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
// The input is read `read_bytes` at a time (tests and fuzzing use small reads).
int pairhits_run(int in_fd, int out_fd, int err_fd, std::size_t read_bytes = std::size_t{1} << 20);

}  // namespace pairhits
