#include "progress.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "report_writer.h"

namespace pairhits {

namespace {
constexpr double kQuietSeconds = 1.0;    // a load this short shows nothing
constexpr double kRefreshSeconds = 0.25;  // a few updates a second
constexpr char kErase[] = "\r\033[K";     // to the line start, then clear the line

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// "120 B", "812 kB", "15.3 MB", "40.2 GB"
int format_bytes(char* out, std::size_t room, unsigned long long bytes) {
  const double b = static_cast<double>(bytes);
  if (b >= 1e9) return std::snprintf(out, room, "%.1f GB", b / 1e9);
  if (b >= 1e6) return std::snprintf(out, room, "%.1f MB", b / 1e6);
  if (b >= 1e3) return std::snprintf(out, room, "%.0f kB", b / 1e3);
  return std::snprintf(out, room, "%llu B", bytes);
}

// "45 s", "12 min", "3 h 20 min"
int format_duration(char* out, std::size_t room, double seconds) {
  const auto s = static_cast<long long>(seconds + 0.5);
  if (s < 60) return std::snprintf(out, room, "%lld s", s);
  if (s < 3600) return std::snprintf(out, room, "%lld min", (s + 30) / 60);
  return std::snprintf(out, room, "%lld h %lld min", s / 3600, s % 3600 / 60);
}
}  // namespace

std::size_t format_progress(char* out, std::size_t room, unsigned long long done, unsigned long long total,
                            double seconds) {
  char read[32];
  format_bytes(read, sizeof read, done);
  if (total == 0 || done > total) {
    return static_cast<std::size_t>(std::snprintf(out, room, "pairhits: %s read", read));
  }
  char size[32];
  format_bytes(size, sizeof size, total);
  const auto percent = static_cast<int>(100.0 * static_cast<double>(done) / static_cast<double>(total));
  if (done == 0) {
    return static_cast<std::size_t>(std::snprintf(out, room, "pairhits: %s of %s (%d%%)", read, size, percent));
  }
  char left[32];
  format_duration(left, sizeof left, seconds * static_cast<double>(total - done) / static_cast<double>(done));
  return static_cast<std::size_t>(
      std::snprintf(out, room, "pairhits: %s of %s (%d%%), about %s left", read, size, percent, left));
}

Progress::Progress(int fd, unsigned long long total)
    : fd_(fd), total_(total), enabled_(isatty(fd) == 1), start_(now()) {}

void Progress::tick() {
  const double t = now();
  if (t - start_ < kQuietSeconds || t - last_shown_ < kRefreshSeconds) return;
  char line[160];
  std::size_t n = format_progress(line + 1, sizeof line - 1, done_, total_, t - start_);
  if (n > sizeof line - 2) n = sizeof line - 2;
  line[0] = '\r';
  // Clear what a longer earlier line left behind.
  write_all(fd_, kErase, sizeof kErase - 1);
  write_all(fd_, line, n + 1);
  shown_ = true;
  last_shown_ = t;
}

void Progress::finish() {
  if (shown_) write_all(fd_, kErase, sizeof kErase - 1);
  shown_ = false;
  enabled_ = false;
}

}  // namespace pairhits
