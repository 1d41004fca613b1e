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

void ReportWriter::line(std::string_view name_text, const hit& a, const hit& b) {
  const char* name = name_text.data();
  const std::size_t name_length = name_text.size();
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
  const auto middle_length = static_cast<std::size_t>(numbers(middle, a.col3, b.col3, a.col7, b.col7) - middle);
  direct(name, name_length);
  direct(middle, middle_length);
  direct(a.target, target_length);
  direct("\n", 1);
}

void ReportWriter::flush() {
  if (used_ > 0 && !failed() && !write_all(fd_, buf_, used_)) error_ = errno;
  used_ = 0;
}

// "\t" col3 "," col3 "\t" col7 "," col7 "\t"
char* ReportWriter::numbers(char* o, double a3, double b3, double a7, double b7) {
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

char* ReportWriter::number(char* o, double value) {
  const std::string_view text = memo_.text(value);
  return put(o, text.data(), text.size());
}

void ReportWriter::direct(const char* s, std::size_t n) {
  flush();
  if (!failed() && !write_all(fd_, s, n)) error_ = errno;
}

}  // namespace pairhits
