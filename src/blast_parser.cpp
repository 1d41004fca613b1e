#include "blast_parser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "alloc.h"
#include "read_index.h"
#include "readline.h"

namespace pairhits {

// ---------------------------------------------------------------- strings --

struct StringArena::block {
  block* next;
};

namespace {
constexpr std::size_t kArenaBlockBytes = 256 * 1024;
constexpr std::size_t kBlockHeader = sizeof(void*);  // keeps the text after it aligned
}  // namespace

StringArena::~StringArena() {
  while (blocks_ != nullptr) {
    block* next = blocks_->next;
    mem_free(blocks_);
    blocks_ = next;
  }
}

const char* StringArena::copy(std::string_view text) {
  const std::size_t need = text.size() + 1;
  char* place;
  if (need <= room_) {
    place = next_;
    next_ += need;
    room_ -= need;
  } else {
    // A string too large for a quarter of a block gets a block of its own,
    // linked behind the current one so that the current one's room stays usable.
    const bool own_block = need > kArenaBlockBytes / 4;
    const std::size_t bytes = kBlockHeader + (own_block ? need : kArenaBlockBytes);
    auto* b = static_cast<block*>(mem_alloc(bytes));
    if (b == nullptr) return nullptr;
    place = reinterpret_cast<char*>(b) + kBlockHeader;
    if (own_block && blocks_ != nullptr) {
      b->next = blocks_->next;
      blocks_->next = b;
    } else {
      b->next = blocks_;
      blocks_ = b;
      next_ = place + need;
      room_ = kArenaBlockBytes - need;
    }
  }
  std::memcpy(place, text.data(), text.size());
  place[text.size()] = '\0';
  return place;
}

// ---------------------------------------------------------------- records --

elem init_blast(const char* name) { return elem{name, nullptr, nullptr, 0, 0}; }

void free_elem(elem& r) {
  mem_free(r.hits1);
  mem_free(r.hits2);
  r.hits1 = nullptr;
  r.hits2 = nullptr;
  r.n_hits1 = 0;
  r.n_hits2 = 0;
}

add_result add_hit(elem& r, std::int32_t mate, const hit& h, StringArena& strings) {
  hit*& list = mate == 1 ? r.hits1 : r.hits2;
  std::int32_t& count = mate == 1 ? r.n_hits1 : r.n_hits2;
  for (std::int32_t i = 0; i < count; ++i) {
    if (std::strcmp(list[i].target, h.target) == 0) return add_result::duplicate;
  }
  if (count == INT32_MAX) return add_result::alloc_failed;
  // Room is bit_ceil(count): a full list is one whose count is 0 or a power of two.
  if (std::has_single_bit(static_cast<std::uint32_t>(count)) || count == 0) {
    const std::size_t room = count == 0 ? 1 : 2 * static_cast<std::size_t>(count);
    auto* bigger = static_cast<hit*>(mem_realloc(list, room * sizeof(hit)));
    if (bigger == nullptr) return add_result::alloc_failed;
    list = bigger;
  }
  const char* target = strings.copy(h.target);
  if (target == nullptr) return add_result::alloc_failed;
  list[count++] = hit{target, h.col3, h.col7};
  return add_result::added;
}

// ----------------------------------------------------------------- fields --

namespace {

bool contains_suffix(const char* field, std::size_t length, char digit) {
  const char* end = field + length;
  for (const char* p = field; p + 1 < end; ++p) {
    p = static_cast<const char*>(std::memchr(p, '/', static_cast<std::size_t>(end - 1 - p)));
    if (p == nullptr) return false;
    if (p[1] == digit) return true;
  }
  return false;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double parse_number(const char* field, std::size_t length) {
  // from_chars gives strtod's correctly rounded value for plain decimal text,
  // several times faster. Anything else (blanks, '+', hex, inf/nan words,
  // trailing junk, out of range) is left to strtod itself.
  const char* first = field;
  const char* last = field + length;
  const char* body = (length > 0 && field[0] == '-') ? field + 1 : field;
  if (body < last && (is_digit(*body) || *body == '.')) {
    double value;
    auto [stop, error] = std::from_chars(first, last, value);
    if (error == std::errc() && stop == last) return value;
  }
  return std::strtod(field, nullptr);
}

std::size_t format_g(double value, char* out) {
  // to_chars with a precision prints exactly what printf's "%.6g" prints.
  auto result = std::to_chars(out, out + 32, value, std::chars_format::general, 6);
  return static_cast<std::size_t>(result.ptr - out);
}

bool parse_Blast_Line(char* line, std::size_t length, hit& h, char*& name, std::int32_t& mate) {
  struct field {
    char* text;
    std::size_t length;
  };
  field wanted[9] = {};  // fields 1 to 9; only 1, 3, 7 and 9 are used
  char* p = line;
  char* const end = line + length;
  int count = 0;
  while (count < 9) {
    while (p < end && *p == '\t') ++p;
    if (p == end) break;
    auto* tab = static_cast<char*>(std::memchr(p, '\t', static_cast<std::size_t>(end - p)));
    char* stop = tab != nullptr ? tab : end;
    wanted[count++] = {p, static_cast<std::size_t>(stop - p)};
    p = stop;
  }
  if (count == 0) return false;

  const field& first = wanted[0];
  if (contains_suffix(first.text, first.length, '1')) mate = 1;
  if (contains_suffix(first.text, first.length, '2')) mate = 2;

  if (count < 9 || first.length < 2 || std::memchr(line, '\0', length) != nullptr) return false;

  const field& f3 = wanted[2];
  const field& f7 = wanted[6];
  const field& f9 = wanted[8];
  // Each field is followed by a TAB or by the line's own terminating zero.
  f3.text[f3.length] = '\0';
  f7.text[f7.length] = '\0';
  f9.text[f9.length] = '\0';
  first.text[first.length - 2] = '\0';
  name = first.text;
  h.target = f9.text;
  h.col3 = parse_number(f3.text, f3.length);
  h.col7 = parse_number(f7.text, f7.length);
  return true;
}

// ----------------------------------------------------------------- output --

namespace {

bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool write_message(int fd, const char* text) { return write_all(fd, text, std::strlen(text)); }

// Buffers the report and remembers the first write error.
class ReportWriter {
 public:
  explicit ReportWriter(int fd) : fd_(fd) {}

  bool failed() const { return error_ != 0; }
  int error_number() const { return error_; }

  void line(const char* name, const hit& a, const hit& b) {
    const std::size_t name_length = std::strlen(name);
    const std::size_t target_length = std::strlen(a.target);
    if (name_length + target_length + kNumbersRoom > kCapacity - used_) flush();
    if (name_length + target_length + kNumbersRoom <= kCapacity - used_) {
      char* o = buf_ + used_;
      o = put(o, name, name_length);
      o = numbers(o, a.col3, b.col3, a.col7, b.col7);
      o = put(o, a.target, target_length);
      *o++ = '\n';
      used_ = static_cast<std::size_t>(o - buf_);
      return;
    }
    // Names or targets longer than the buffer: write piece by piece.
    char middle[kNumbersRoom];
    std::size_t middle_length =
        static_cast<std::size_t>(numbers(middle, a.col3, b.col3, a.col7, b.col7) - middle);
    direct(name, name_length);
    direct(middle, middle_length);
    direct(a.target, target_length);
    direct("\n", 1);
  }

  void flush() {
    if (used_ > 0 && !failed() && !write_all(fd_, buf_, used_)) error_ = errno;
    used_ = 0;
  }

 private:
  static constexpr std::size_t kCapacity = 64 * 1024;
  static constexpr std::size_t kNumbersRoom = 4 * 32 + 8;  // four numbers and the separators

  static char* put(char* o, const char* s, std::size_t n) {
    std::memcpy(o, s, n);
    return o + n;
  }

  // "\t" col3 "," col3 "\t" col7 "," col7 "\t"
  static char* numbers(char* o, double a3, double b3, double a7, double b7) {
    *o++ = '\t';
    o += format_g(a3, o);
    *o++ = ',';
    o += format_g(b3, o);
    *o++ = '\t';
    o += format_g(a7, o);
    *o++ = ',';
    o += format_g(b7, o);
    *o++ = '\t';
    return o;
  }

  void direct(const char* s, std::size_t n) {
    flush();
    if (!failed() && !write_all(fd_, s, n)) error_ = errno;
  }

  int fd_;
  int error_ = 0;
  std::size_t used_ = 0;
  char buf_[kCapacity];
};

// ------------------------------------------------------------------- run --

// The read index and the strings of one run. Whatever way the run ends, every
// record's lists, every node and every string are released exactly once.
class ReadTable {
 public:
  ReadTable() : index_(kb_init_str(512)) {}
  ~ReadTable() {
    if (index_ == nullptr) return;
    kb_walk w;
    for (kb_walk_first_str(index_, w); kb_walk_valid(w); kb_walk_next_str(index_, w)) {
      free_elem(kb_walk_record(w));
    }
    kb_free_str(index_);
  }
  ReadTable(const ReadTable&) = delete;
  ReadTable& operator=(const ReadTable&) = delete;

  bool ok() const { return index_ != nullptr; }
  read_index* index() const { return index_; }
  StringArena& strings() { return strings_; }

 private:
  read_index* index_;
  StringArena strings_;
};

enum class load_status { ok, alloc_failed, realloc_failed, read_failed };

struct load_stats {
  unsigned long long skipped = 0;     // incomplete lines, other than empty or '#' ones
  unsigned long long first_skipped = 0;  // line number of the first of them
  int read_errno = 0;
};

load_status parse_blast_alignment(LineReader& reader, ReadTable& table, load_stats& stats) {
  read_index* index = table.index();
  std::int32_t mate = 0;
  unsigned long long line_number = 0;
  // BLAST writes a read's hits together: remember the last record found. An
  // insertion may move records, so it forgets the remembered one.
  elem* last = nullptr;

  char* line;
  std::size_t length;
  for (;;) {
    switch (reader.readline(line, length)) {
      case read_result::line:
        break;
      case read_result::end:
        return load_status::ok;
      case read_result::read_error:
        stats.read_errno = reader.error_number();
        return load_status::read_failed;
      case read_result::realloc_failed:
        return load_status::realloc_failed;
    }
    ++line_number;
    const bool quiet = length == 0 || line[0] == '#';
    hit h;
    char* name;
    if (!parse_Blast_Line(line, length, h, name, mate)) {
      if (!quiet && stats.skipped++ == 0) stats.first_skipped = line_number;
      continue;
    }

    elem* r = (last != nullptr && std::strcmp(last->name, name) == 0) ? last
                                                                      : kb_find_str(index, name);
    if (r != nullptr) {
      last = r;
      if (add_hit(*r, mate, h, table.strings()) == add_result::alloc_failed) {
        return load_status::alloc_failed;
      }
      continue;
    }
    const char* kept_name = table.strings().copy(name);
    if (kept_name == nullptr) return load_status::alloc_failed;
    elem fresh = init_blast(kept_name);
    if (add_hit(fresh, mate, h, table.strings()) == add_result::alloc_failed ||
        !kb_insert_str(index, fresh)) {
      free_elem(fresh);
      return load_status::alloc_failed;
    }
    last = nullptr;
  }
}

// Prints every target that both mates of a read hit, releasing each record's
// lists once printed. Returns false on a write error.
bool report(ReadTable& table, ReportWriter& out) {
  read_index* index = table.index();
  kb_walk w;
  for (kb_walk_first_str(index, w); kb_walk_valid(w); kb_walk_next_str(index, w)) {
    elem& r = kb_walk_record(w);
    for (std::int32_t i = 0; i < r.n_hits1; ++i) {
      for (std::int32_t j = 0; j < r.n_hits2; ++j) {
        if (std::strcmp(r.hits1[i].target, r.hits2[j].target) == 0) {
          out.line(r.name, r.hits1[i], r.hits2[j]);
        }
      }
    }
    free_elem(r);
    if (out.failed()) return false;
  }
  out.flush();
  return !out.failed();
}

const char kNotFound[] = "ERROR: Blast file not found\n";
const char kMallocFailed[] = "ERROR: problem with malloc allocation as occured\n";
const char kReallocFailed[] = "ERROR: problem with realloc allocation as occured\n";

void write_error_with_reason(int err_fd, const char* what, int error_number) {
  char text[256];
  std::snprintf(text, sizeof text, "ERROR: %s: %s\n", what, std::strerror(error_number));
  write_message(err_fd, text);
}

void write_skip_warning(int err_fd, const load_stats& stats) {
  char text[160];
  if (stats.skipped == 1) {
    std::snprintf(text, sizeof text,
                  "ERROR: 1 line without a complete hit was skipped, at line %llu\n",
                  stats.first_skipped);
  } else {
    std::snprintf(text, sizeof text,
                  "ERROR: %llu lines without a complete hit were skipped, the first at line %llu\n",
                  stats.skipped, stats.first_skipped);
  }
  write_message(err_fd, text);
}

int not_found(int err_fd) { return write_message(err_fd, kNotFound) ? 28 : 255; }

}  // namespace

int pairhits_run(int in_fd, int out_fd, int err_fd) {
  load_stats stats;
  {
    ReadTable table;
    LineReader reader(in_fd);
    if (!table.ok() || !reader.ok()) {
      write_message(err_fd, kMallocFailed);
      return 1;
    }
    switch (parse_blast_alignment(reader, table, stats)) {
      case load_status::ok:
        break;
      case load_status::alloc_failed:
        write_message(err_fd, kMallocFailed);
        return 1;
      case load_status::realloc_failed:
        write_message(err_fd, kReallocFailed);
        return 1;
      case load_status::read_failed:
        write_error_with_reason(err_fd, "problem reading Blast file", stats.read_errno);
        return 1;
    }
    if (stats.skipped > 0) write_skip_warning(err_fd, stats);

    ReportWriter out(out_fd);
    if (!report(table, out)) {
      write_error_with_reason(err_fd, "problem writing the report", out.error_number());
      return 1;
    }
  }
  return 0;
}

int pairhits_main(int argc, const char* const* argv, int out_fd, int err_fd) {
  if (argc < 2 || argv[1] == nullptr) return not_found(err_fd);
  int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (fd < 0) return not_found(err_fd);
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return not_found(err_fd);
  }
  if (fd <= 2) {
    // A closed standard stream must not be aliased by the table: output
    // written to it would otherwise land in (or fail on) the input.
    int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    if (high < 0) return not_found(err_fd);
    fd = high;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  int status = pairhits_run(fd, out_fd, err_fd);
  ::close(fd);
  return status;
}

}  // namespace pairhits
