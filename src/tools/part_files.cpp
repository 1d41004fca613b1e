#include "part_files.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

#include "alloc.h"
#include "cli.h"
#include "messages.h"
#include "split_layout.h"
#include "quiet_thread.h"
#include "report_writer.h"
#include "stream_copy.h"

namespace pairhits {

namespace {
constexpr std::size_t kAllBuffers = 32 << 20;  // bytes buffered for all parts together
constexpr std::size_t kMinBuffer = 4096;
constexpr std::size_t kMaxBuffer = 256 << 10;
// Buffers beyond one per part, so that the split can go on filling while the
// writer writes: with few parts the split fills one in about as long as a
// write takes, and a few in hand absorb the variations.
constexpr std::size_t kSpareBuffers = 8;
// Stages together stay within a processor's own cache, as long as each
// holds at least one streamed line.
constexpr std::size_t kAllStages = 256 << 10;
constexpr std::size_t kMaxStage = 4096;
static_assert(kMaxStage <= kMinBuffer && kMinBuffer % kStreamLine == 0);
// Bytes a line's copy takes at a time; each stage has as many to spare
// after its room, and a line's padding covers what the copy reads past it.
constexpr std::size_t kCopySlack = 32;
static_assert(kCopySlack < kReadAhead && kCopySlack <= kStreamLine);
// Below this share per part the page-by-page allocation costs too little to matter.
constexpr unsigned long long kMinReserve = 64 << 10;
}  // namespace

PartFiles::PartFiles(const std::string& dir, int parts, unsigned long long expected_bytes)
    : dir_(dir), parts_(parts),
      room_(std::bit_floor(std::clamp(kAllBuffers / static_cast<std::size_t>(parts), kMinBuffer, kMaxBuffer))),
      stage_room_(std::bit_floor(std::clamp(kAllStages / static_cast<std::size_t>(parts), kStreamLine, kMaxStage))),
      expected_(expected_bytes),
      fds_(static_cast<std::size_t>(parts), -1), used_(static_cast<std::size_t>(parts), 0),
      staged_(static_cast<std::size_t>(parts), 0), current_(static_cast<std::size_t>(parts), nullptr) {
  const std::size_t count = static_cast<std::size_t>(parts) + kSpareBuffers;
  const std::size_t buffer_bytes = room_ * count;
  memory_size_ = (buffer_bytes + stage_stride() * static_cast<std::size_t>(parts) + kPageBytes - 1) / kPageBytes * kPageBytes;
  memory_ = static_cast<char*>(mem_map(memory_size_, kPageBytes));
  if (memory_ == nullptr) return;
  stages_ = memory_ + buffer_bytes;
  for (std::size_t b = 0; b < count; ++b) {
    char* buffer = memory_ + b * room_;
    if (b < current_.size()) {
      current_[b] = buffer;
    } else {
      free_.push_back(buffer);
    }
  }
}

PartFiles::~PartFiles() {
  stop_writer();
  for (int fd : fds_) {
    if (fd < 0) continue;
    give_back_reserve(fd);
    ::close(fd);
  }
  mem_unmap(memory_, memory_size_);
}

// Whole streamed lines apart, with room for a line copy's slack.
std::size_t PartFiles::stage_stride() const { return stage_room_ + kStreamLine; }

bool PartFiles::create() {
  if (memory_ == nullptr) return fail(-1, ENOMEM);
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
  if (keep_open_) reserve();
  if (!start_quiet_thread(writer_, [this] { write_queued(); })) return fail(-1, EAGAIN);
  return true;
}

// Fills stages and buffers to the brim, so that every write but a part's
// last is of the same power of two at a multiple of it: the page cache then
// takes the bytes in large pieces (a fifth less kernel time on ext4 here).
bool PartFiles::put(int part, const char* data, std::size_t n) {
  std::size_t& staged = staged_[static_cast<std::size_t>(part)];
  for (;;) {
    const std::size_t k = std::min(n, stage_room_ - staged);
    std::memcpy(stage_of(part) + staged, data, k);
    staged += k;
    data += k;
    n -= k;
    if (n == 0) return true;
    if (!unstage(part)) return false;
  }
}

bool PartFiles::put_line(int part, padded_view line) {
  const std::size_t n = line.size() + 1;
  std::size_t& staged = staged_[static_cast<std::size_t>(part)];
  if (n > stage_room_ - staged) return put(part, line.data(), n);
  char* to = stage_of(part) + staged;
  const char* from = line.data();
  for (std::size_t i = 0; i < n; i += kCopySlack) std::memcpy(to + i, from + i, kCopySlack);
  staged += n;
  return true;
}

// A buffer always has room for a stage: both sizes are powers of two, and
// the buffer takes whole stages until the last one.
bool PartFiles::unstage(int part) {
  std::size_t& used = used_[static_cast<std::size_t>(part)];
  std::size_t& staged = staged_[static_cast<std::size_t>(part)];
  stream_copy(buffer_of(part) + used, stage_of(part), stage_room_);
  used += stage_room_;
  staged = 0;
  return used < room_ || hand_over(part);
}

bool PartFiles::finish() {
  for (int p = 0; p < parts_; ++p) {
    // The last stage, cut anywhere, goes in with ordinary stores.
    std::size_t& staged = staged_[static_cast<std::size_t>(p)];
    std::memcpy(buffer_of(p) + used_[static_cast<std::size_t>(p)], stage_of(p), staged);
    used_[static_cast<std::size_t>(p)] += staged;
    staged = 0;
    if (!hand_over(p)) break;
  }
  stop_writer();
  if (failed_) return false;
  for (int p = 0; p < parts_; ++p) {
    int& fd = fds_[static_cast<std::size_t>(p)];
    if (fd < 0) continue;
    if (!give_back_reserve(fd) || ::close(fd) != 0) return fail(p, errno);
    fd = -1;
  }
  return true;
}

std::string PartFiles::error() const {
  const std::string path = failed_part_ < 0 ? dir_ : part_path(dir_, failed_part_);
  return problem_writing_text(path) + ": " + std::strerror(errno_);
}

bool PartFiles::hand_over(int part) {
  std::size_t& used = used_[static_cast<std::size_t>(part)];
  if (used == 0) return true;
  stream_fence();  // the writer must see the streamed bytes
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !free_.empty() || failed_; });
  if (failed_) return false;
  queue_.push_back({part, buffer_of(part), used});
  current_[static_cast<std::size_t>(part)] = free_.back();
  free_.pop_back();
  used = 0;
  changed_.notify_all();
  return true;
}

void PartFiles::stop_writer() {
  if (!writer_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  writer_.join();
}

void PartFiles::write_queued() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || stopping_; });
    if (queue_.empty()) return;
    const full_buffer b = queue_.front();
    queue_.pop_front();
    // After a failure the rest is dropped: the split stops at its next put.
    const bool skip = failed_;
    lock.unlock();
    const bool ok = skip || write_out(b.part, b.data, b.size);
    lock.lock();
    if (!ok) failed_ = true;
    free_.push_back(b.data);
    changed_.notify_all();
  }
}

bool PartFiles::write_out(int part, const char* data, std::size_t n) {
  int fd = fds_[static_cast<std::size_t>(part)];
  const bool opened = fd < 0;
  if (opened) fd = ::open(part_path(dir_, part).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return fail(part, errno);
  const bool ok = write_all(fd, data, n);
  const int error = errno;
  if (opened && ::close(fd) != 0 && ok) return fail(part, errno);
  return ok || fail(part, error);
}

// A hint only: where a reservation fails (a folder nearly full, a file
// system without it), every one is given back, so that the folder holds
// what it would have held without. Not on tmpfs, where reserving only
// zeroes the pages before they are written.
void PartFiles::reserve() {
#ifdef FALLOC_FL_KEEP_SIZE
  const unsigned long long share = expected_ / static_cast<unsigned long long>(parts_);
  struct statfs fs;
  if (share < kMinReserve || ::fstatfs(fds_[0], &fs) != 0 || fs.f_type == TMPFS_MAGIC) return;
  const off_t each = static_cast<off_t>(share + share / 16);  // hashing spreads names only about evenly
  reserved_ = true;
  for (int p = 0; p < parts_; ++p) {
    if (::fallocate(fds_[static_cast<std::size_t>(p)], FALLOC_FL_KEEP_SIZE, 0, each) != 0) {
      for (int q = 0; q <= p; ++q) give_back_reserve(fds_[static_cast<std::size_t>(q)]);
      reserved_ = false;
      return;
    }
  }
#endif
}

// Frees the reserved blocks past what was written (truncating a file to its
// own size drops them).
bool PartFiles::give_back_reserve(int fd) {
  if (!reserved_) return true;
  const off_t size = ::lseek(fd, 0, SEEK_CUR);
  return size >= 0 && ::ftruncate(fd, size) == 0;
}

// Called by the writer, or by the split while the writer is idle or not
// started; the first failure is the one reported.
bool PartFiles::fail(int part, int error_number) {
  if (failed_part_ == -1 && errno_ == 0) {
    failed_part_ = part;
    errno_ = error_number;
  }
  return false;
}

}  // namespace pairhits
