#include "part_split.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "alloc.h"
#include "hashing.h"
#include "hit_splitter.h"
#include "loader.h"
#include "messages.h"
#include "readline.h"
#include "report_writer.h"
#include "split_stats.h"

namespace pairhits {

std::string part_path(const std::string& dir, int part, const char* suffix) {
  char name[32];
  std::snprintf(name, sizeof name, "/part-%04d%s", part, suffix);
  return dir + name;
}

std::string stats_path(const std::string& dir) { return dir + "/stats"; }

namespace {

constexpr std::size_t kAllBuffers = 32 << 20;  // bytes buffered for all parts together
constexpr std::size_t kMinBuffer = 4096;
constexpr std::size_t kMaxBuffer = 256 << 10;
// The part files, each with a buffer. When there are more parts than
// descriptors to spare, a part's file is opened only to take its buffer.
class PartFiles {
 public:
  PartFiles(const std::string& dir, int parts)
      : dir_(dir), parts_(parts), room_(std::clamp(kAllBuffers / static_cast<std::size_t>(parts), kMinBuffer, kMaxBuffer)),
        fds_(static_cast<std::size_t>(parts), -1), used_(static_cast<std::size_t>(parts), 0) {
    buffers_ = static_cast<char*>(mem_alloc(room_ * static_cast<std::size_t>(parts)));
  }
  ~PartFiles() {
    for (int fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
    mem_free(buffers_);
  }
  PartFiles(const PartFiles&) = delete;
  PartFiles& operator=(const PartFiles&) = delete;

  // Creates every part file, empty; false with the failing path in error().
  bool create() {
    if (buffers_ == nullptr) return fail(-1, ENOMEM);
    keep_open_ = openable_descriptors(static_cast<std::size_t>(parts_)) >= static_cast<std::size_t>(parts_);
    for (int p = 0; p < parts_; ++p) {
      const int fd = ::open(part_path(dir_, p).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0) return fail(p, errno);
      if (keep_open_) {
        fds_[static_cast<std::size_t>(p)] = fd;
      } else {
        ::close(fd);
      }
    }
    return true;
  }

  bool put(int part, const char* data, std::size_t n) {
    std::size_t& used = used_[static_cast<std::size_t>(part)];
    if (n > room_ - used && !flush(part)) return false;
    if (n > room_) return write_out(part, data, n);
    std::memcpy(buffers_ + static_cast<std::size_t>(part) * room_ + used, data, n);
    used += n;
    return true;
  }

  // Writes out every buffer and closes every file.
  bool finish() {
    for (int p = 0; p < parts_; ++p) {
      if (!flush(p)) return false;
      int& fd = fds_[static_cast<std::size_t>(p)];
      if (fd >= 0 && ::close(fd) != 0) return fail(p, errno);
      fd = -1;
    }
    return true;
  }

  // "problem writing PATH: REASON"
  std::string error() const {
    const std::string path = failed_part_ < 0 ? dir_ : part_path(dir_, failed_part_);
    return "problem writing " + path + ": " + std::strerror(errno_);
  }

 private:
  bool flush(int part) {
    std::size_t& used = used_[static_cast<std::size_t>(part)];
    if (used == 0) return true;
    const bool ok = write_out(part, buffers_ + static_cast<std::size_t>(part) * room_, used);
    used = 0;
    return ok;
  }

  bool write_out(int part, const char* data, std::size_t n) {
    int fd = fds_[static_cast<std::size_t>(part)];
    const bool opened = fd < 0;
    if (opened) fd = ::open(part_path(dir_, part).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return fail(part, errno);
    const bool ok = write_all(fd, data, n);
    const int error = errno;
    if (opened && ::close(fd) != 0 && ok) return fail(part, errno);
    return ok || fail(part, error);
  }

  bool fail(int part, int error_number) {
    failed_part_ = part;
    errno_ = error_number;
    return false;
  }

  std::string dir_;
  int parts_;
  std::size_t room_;
  bool keep_open_ = false;
  std::vector<int> fds_;
  std::vector<std::size_t> used_;
  char* buffers_ = nullptr;
  int failed_part_ = -1;
  int errno_ = 0;
};

const char kMateLine[3][4] = {"", "#/1", "#/2"};

// The state of one split: the whole table's mate and each part's.
struct splitter_state {
  PartFiles& files;
  int parts;
  std::int32_t mate = 0;
  std::vector<std::int32_t> part_mate;
  split_stats stats;

  // Gives part p the whole table's mate before a line that does not name its own.
  bool set_mate(int p) {
    std::int32_t& m = part_mate[static_cast<std::size_t>(p)];
    if (m == mate) return true;
    m = mate;
    return files.put(p, kMateLine[mate], 3) && files.put(p, "\n", 1);
  }
};

// Splits one table; returns a load status like the loader's.
load_status split_one(LineReader& reader, int table, splitter_state& s, const volatile std::sig_atomic_t* stop) {
  unsigned long long line_number = 0;
  padded_view line;
  for (;;) {
    switch (reader.readline(line)) {
      case read_result::line:
        break;
      case read_result::end:
        return load_status::ok;
      case read_result::read_error:
        s.stats.counts.read_error = reader.error_text();
        return load_status::read_failed;
      case read_result::realloc_failed:
        return load_status::realloc_failed;
      case read_result::pending:
        continue;
    }
    ++line_number;
    hit_fields fields;
    if (!split_hit_line(line, fields, s.mate, false)) {
      count_incomplete(line, line_number, table, s.stats.counts);
      continue;
    }
    count_complete(fields, s.mate, line, s.stats.counts);
    const int p = static_cast<int>(hash_bytes(fields.name) % static_cast<std::uint64_t>(s.parts));
    if (fields.marked) {
      s.part_mate[static_cast<std::size_t>(p)] = s.mate;
    } else if (!s.set_mate(p)) {
      return load_status::write_failed;
    }
    line.data()[line.size()] = '\n';  // the reader's zero after the line
    if (!s.files.put(p, line.data(), line.size() + 1)) return load_status::write_failed;
    if (stop != nullptr && *stop != 0) return load_status::stopped;
  }
}

}  // namespace

int split_tables(const table_input* tables, std::size_t count, const std::string& dir, int parts, int err_fd,
                 const volatile std::sig_atomic_t* stop) {
  PartFiles files(dir, parts);
  if (!files.create()) {
    write_error_with_reason(err_fd, "cannot make the part tables", files.error().c_str());
    return 1;
  }
  splitter_state s{files, parts, 0, std::vector<std::int32_t>(static_cast<std::size_t>(parts), 0), {}};
  for (std::size_t i = 0; i < count; ++i) s.stats.tables.emplace_back(tables[i].name);
  load_status status = load_status::ok;
  for (std::size_t i = 0; i < count && status == load_status::ok; ++i) {
    TableSource source(tables[i].fd);
    LineReader reader(source);
    status = reader.ok() ? split_one(reader, static_cast<int>(i), s, stop) : load_status::alloc_failed;
  }
  for (int p = 0; p < parts && status == load_status::ok && s.mate != 0; ++p) {
    if (!s.set_mate(p)) status = load_status::write_failed;
  }
  if (status == load_status::ok && !files.finish()) status = load_status::write_failed;
  s.stats.last_mate = s.mate;
  if (status == load_status::stopped) return -1;
  if (status == load_status::write_failed) write_message(err_fd, ("ERROR: " + files.error() + "\n").c_str());
  if (status != load_status::ok) {
    write_load_failure(err_fd, status, s.stats.counts);
    return 1;
  }
  const std::string path = stats_path(dir);
  if (!write_split_stats(path.c_str(), s.stats)) {
    write_error_with_reason(err_fd, ("problem writing " + path).c_str(), std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace pairhits
