// The report writer: buffers report lines and writes them to a descriptor,
// remembering the first write error; after one, nothing more is written.
#pragma once

#include <cstddef>
#include <string_view>

#include "numbers.h"

namespace pairhits {

struct hit;  // blast_parser.h

// Writes all of it, retrying after interruptions; false on an error (errno says which).
bool write_all(int fd, const char* data, std::size_t size);
bool write_message(int fd, const char* text);

class ReportWriter {
 public:
  explicit ReportWriter(int fd) : fd_(fd) {}

  bool failed() const { return error_ != 0; }
  int error_number() const { return error_; }

  // name TAB a.col3 "," b.col3 TAB a.col7 "," b.col7 TAB a.target NEWLINE
  void line(std::string_view name, const hit& a, const hit& b);
  void flush();

 private:
  static constexpr std::size_t kCapacity = 64 * 1024;
  static constexpr std::size_t kNumbersRoom = 4 * kMaxGLength + 8;  // four numbers and the separators

  char* numbers(char* o, double a3, double b3, double a7, double b7);
  char* number(char* o, double value);
  void direct(const char* s, std::size_t n);

  int fd_;
  int error_ = 0;
  std::size_t used_ = 0;
  FormatMemo memo_;
  char buf_[kCapacity];
};

}  // namespace pairhits
