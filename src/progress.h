// The progress line: while a long load runs with standard error on a
// terminal, one line there says how much of the input has been read and,
// when its size is known, how long the rest should take. It is erased
// before anything else is written, and never shown when standard error is
// not a terminal.
#pragma once

#include <cstddef>

namespace pairhits {

class Progress {
 public:
  // Shows progress on `fd` if it is a terminal; `total` is the number of
  // bytes the load will read, or 0 if that is not known.
  Progress(int fd, unsigned long long total);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void advance(std::size_t bytes) {
    done_ += bytes;
    if (enabled_) tick();
  }

  // Erases the line, if shown; later advances show nothing.
  void finish();

 private:
  void tick();

  int fd_;
  unsigned long long total_;
  unsigned long long done_ = 0;
  bool enabled_;
  bool shown_ = false;
  double start_;
  double last_shown_ = 0;
};

// The text of the progress line (no line end) into `out`, which has room for
// `room` bytes; returns its length.
std::size_t format_progress(char* out, std::size_t room, unsigned long long done, unsigned long long total,
                            double seconds);

}  // namespace pairhits
