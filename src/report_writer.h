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

// Formats report lines into memory: the "%g" texts of recent values are
// remembered, as reports repeat them.
class LineFormatter {
 public:
  // The most bytes that a line of a name and a target of these lengths takes.
  static constexpr std::size_t room(std::size_t name_length, std::size_t target_length) {
    return name_length + target_length + kNumbersRoom;
  }
  // name TAB a.col3 "," b.col3 TAB a.col7 "," b.col7 TAB a.target NEWLINE
  // at `o`, which has room() bytes; returns the end.
  char* line(char* o, std::string_view name, const hit& a, const hit& b, std::size_t target_length);
  // The part between the name and the target.
  char* numbers(char* o, double a3, double b3, double a7, double b7);

 private:
  static constexpr std::size_t kNumbersRoom = 4 * kMaxGLength + 8;  // four numbers and the separators
  char* number(char* o, double value);
  FormatMemo memo_;
};

class ReportWriter {
 public:
  explicit ReportWriter(int fd) : fd_(fd) {}

  bool failed() const { return error_ != 0; }
  int error_number() const { return error_; }

  // name TAB a.col3 "," b.col3 TAB a.col7 "," b.col7 TAB a.target NEWLINE
  void line(std::string_view name, const hit& a, const hit& b);
  // Report text formatted elsewhere.
  void text(const char* s, std::size_t n);
  void flush();

 private:
  static constexpr std::size_t kCapacity = 64 * 1024;

  void direct(const char* s, std::size_t n);

  int fd_;
  int error_ = 0;
  std::size_t used_ = 0;
  LineFormatter format_;
  char buf_[kCapacity];
};

}  // namespace pairhits
