// The part tables being written by a split: one buffer per part, and a
// writer thread that writes full buffers out while the split goes on, so
// that the copy into the file system's pages overlaps the scan of the table
// (on a two-core machine it was half of the split's time, done in line).
//
// Lines are first gathered in a small stage per part, which stays in the
// split's own cache, and a full stage goes into the part's buffer with
// streaming stores. The buffers are what the writer last read, on the other
// processor: copied into line by line, every store waited for that
// processor to hand the cache line back, and on one host that wait was
// half of the splitting thread's time.
//
// Each part's bytes reach its file in the order they were put. When there
// are more parts than descriptors to spare, a part's file is opened only to
// take a buffer.
//
// Told how many bytes to expect, it reserves each part's share of the disk
// before the first write: one allocation per file instead of one per page as
// the pages come. On ext4 that took about 40% off the kernel's time for the
// writes. What is left over is given back when the files are closed.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "read_ahead.h"

namespace pairhits {

class PartFiles {
 public:
  // `expected_bytes`: what all parts together will likely hold, 0 if unknown.
  PartFiles(const std::string& dir, int parts, unsigned long long expected_bytes = 0);
  ~PartFiles();
  PartFiles(const PartFiles&) = delete;
  PartFiles& operator=(const PartFiles&) = delete;

  // Creates every part file, empty, and starts the writer; false with the
  // failing path in error().
  bool create();

  // Adds n bytes to part `part`; false once any write has failed.
  bool put(int part, const char* data, std::size_t n);
  // Adds a line and the byte after it (its end) to part `part`, copied in
  // fixed steps that may run past the end: the line's padding and the
  // buffer's slack take what goes beyond.
  bool put_line(int part, padded_view line);

  // Writes out every buffer, stops the writer and closes every file.
  bool finish();

  // "problem writing PATH: REASON" for the first failure.
  std::string error() const;

 private:
  struct full_buffer {
    int part;
    char* data;
    std::size_t size;
  };

  char* buffer_of(int part) { return current_[static_cast<std::size_t>(part)]; }
  char* stage_of(int part) { return stages_ + static_cast<std::size_t>(part) * stage_stride(); }
  std::size_t stage_stride() const;
  bool unstage(int part);        // moves part's full stage into its buffer
  bool hand_over(int part);      // queues part's buffer and takes a free one
  void stop_writer();
  void write_queued();           // the writer thread's loop
  bool write_out(int part, const char* data, std::size_t n);
  bool fail(int part, int error_number);
  void reserve();
  bool give_back_reserve(int fd);

  std::string dir_;
  int parts_;
  std::size_t room_;        // bytes per buffer, a power of two
  std::size_t stage_room_;  // bytes per stage, a power of two that divides room_
  bool keep_open_ = false;
  unsigned long long expected_;
  bool reserved_ = false;
  std::vector<int> fds_;
  std::vector<std::size_t> used_;    // bytes in each part's buffer: whole stages
  std::vector<std::size_t> staged_;  // bytes in each part's stage
  std::vector<char*> current_;
  std::size_t memory_size_ = 0;
  char* memory_ = nullptr;  // every buffer, then every stage: one mapping
  char* stages_ = nullptr;

  // Shared with the writer, under mutex_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<full_buffer> queue_;
  std::vector<char*> free_;
  bool stopping_ = false;
  bool failed_ = false;
  int failed_part_ = -1;
  int errno_ = 0;
  std::thread writer_;
};

}  // namespace pairhits
