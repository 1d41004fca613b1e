#include "report_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "blast_parser.h"

namespace pairhits {

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

namespace {

// Names, targets and numbers are short: two overlapping moves of a fixed
// width copy them without a loop, and without the string instructions a
// compiler may choose for a copy of unknown size, which are slow to start.
template <std::size_t kWidth>
void move_ends(char* o, const char* s, std::size_t n) {
  char head[kWidth];
  char tail[kWidth];
  std::memcpy(head, s, kWidth);
  std::memcpy(tail, s + n - kWidth, kWidth);
  std::memcpy(o, head, kWidth);
  std::memcpy(o + n - kWidth, tail, kWidth);
}

char* put(char* o, const char* s, std::size_t n) {
  if (n >= 16) {
    if (n <= 32) {
      move_ends<16>(o, s, n);
    } else if (n <= 64) {
      move_ends<32>(o, s, n);
    } else {
      std::memcpy(o, s, n);
    }
  } else if (n >= 8) {
    move_ends<8>(o, s, n);
  } else if (n >= 4) {
    move_ends<4>(o, s, n);
  } else {
    for (std::size_t k = 0; k < n; ++k) o[k] = s[k];
  }
  return o + n;
}

}  // namespace

char* LineFormatter::line(char* o, std::string_view name, const hit& a, const hit& b, std::size_t target_length) {
  o = put(o, name.data(), name.size());
  o = numbers(o, a.col3, b.col3, a.col7, b.col7);
  o = put(o, a.target, target_length);
  *o++ = '\n';
  return o;
}

// "\t" col3 "," col3 "\t" col7 "," col7 "\t"
char* LineFormatter::numbers(char* o, double a3, double b3, double a7, double b7) {
  *o++ = '\t';
  o = number(o, a3);
  *o++ = ',';
  o = number(o, b3);
  *o++ = '\t';
  o = number(o, a7);
  *o++ = ',';
  o = number(o, b7);
  *o++ = '\t';
  return o;
}

char* LineFormatter::number(char* o, double value) {
  const std::string_view text = memo_.text(value);
  return put(o, text.data(), text.size());
}

void ReportWriter::line(std::string_view name, const hit& a, const hit& b) {
  const std::size_t target_length = std::strlen(a.target);
  const std::size_t room = LineFormatter::room(name.size(), target_length);
  if (room > kCapacity - used_) flush();
  if (room <= kCapacity - used_) {
    used_ = static_cast<std::size_t>(format_.line(buf_ + used_, name, a, b, target_length) - buf_);
    return;
  }
  // Names or targets longer than the buffer: write piece by piece.
  char middle[LineFormatter::room(0, 0)];
  const auto middle_length = static_cast<std::size_t>(format_.numbers(middle, a.col3, b.col3, a.col7, b.col7) - middle);
  direct(name.data(), name.size());
  direct(middle, middle_length);
  direct(a.target, target_length);
  direct("\n", 1);
}

void ReportWriter::text(const char* s, std::size_t n) {
  if (n == 0) return;  // an empty text may have no bytes at all (a null pointer)
  if (n > kCapacity - used_) flush();
  if (n > kCapacity) {
    direct(s, n);
    return;
  }
  std::memcpy(buf_ + used_, s, n);
  used_ += n;
}

void ReportWriter::flush() {
  if (used_ > 0 && !failed() && !write_all(fd_, buf_, used_)) error_ = errno;
  used_ = 0;
}

void ReportWriter::direct(const char* s, std::size_t n) {
  flush();
  if (!failed() && !write_all(fd_, s, n)) error_ = errno;
}

}  // namespace pairhits
