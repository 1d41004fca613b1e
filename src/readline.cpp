#include "readline.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "alloc.h"

namespace pairhits {

namespace {
std::size_t usable(std::size_t capacity) { return std::clamp<std::size_t>(capacity, 1, SIZE_MAX / 2); }
}  // namespace

// The buffer holds the data, a zero byte and kReadAhead more bytes.
LineReader::LineReader(TableSource& source, std::size_t capacity, std::size_t max_read)
    : own_(std::string_view()), source_(&source), buf_(static_cast<char*>(mem_alloc(usable(capacity) + 1 + kReadAhead))),
      capacity_(usable(capacity)), max_read_(std::max<std::size_t>(max_read, 1)) {}

LineReader::LineReader(int fd, std::size_t capacity, std::size_t max_read)
    : own_(fd), source_(&own_), buf_(static_cast<char*>(mem_alloc(usable(capacity) + 1 + kReadAhead))),
      capacity_(usable(capacity)), max_read_(std::max<std::size_t>(max_read, 1)) {}

LineReader::LineReader(std::string_view text, std::size_t capacity, std::size_t max_read)
    : own_(text), source_(&own_), buf_(static_cast<char*>(mem_alloc(usable(capacity) + 1 + kReadAhead))),
      capacity_(usable(capacity)), max_read_(std::max<std::size_t>(max_read, 1)) {}

LineReader::~LineReader() { mem_free(buf_); }

std::size_t LineReader::next_of(char byte, Search& search) {
  if (search.found != kNone && search.found >= pos_) return search.found;
  std::size_t from = std::max(search.scanned, pos_);
  const void* hit = std::memchr(buf_ + from, byte, end_ - from);
  if (hit == nullptr) {
    search.found = kNone;
    search.scanned = end_;
    return end_;
  }
  search.found = static_cast<std::size_t>(static_cast<const char*>(hit) - buf_);
  search.scanned = search.found + 1;
  return search.found;
}

read_result LineReader::refill() {
  if (pos_ > 0) {
    // Keep the unfinished line at the front; the searches shift with it.
    std::memmove(buf_, buf_ + pos_, end_ - pos_);
    for (Search* s : {&lf_, &cr_}) {
      s->found = (s->found != kNone && s->found >= pos_) ? s->found - pos_ : kNone;
      s->scanned = s->scanned > pos_ ? s->scanned - pos_ : 0;
    }
    end_ -= pos_;
    pos_ = 0;
  }
  if (end_ == capacity_) {
    // One line fills the whole buffer: double it, so a line of L bytes costs
    // O(L) copying and at most about 2L bytes.
    const std::size_t bigger = capacity_ * 2;
    const bool fits = bigger > capacity_ && bigger < SIZE_MAX - 1 - kReadAhead;
    char* grown = fits ? static_cast<char*>(mem_realloc(buf_, bigger + 1 + kReadAhead)) : nullptr;
    if (grown == nullptr) return read_result::realloc_failed;
    buf_ = grown;
    capacity_ = bigger;
  }
  long n = source_->read(buf_ + end_, std::min(capacity_ - end_, max_read_));
  if (n < 0) return read_result::read_error;
  if (n == 0) eof_ = true;
  end_ += static_cast<std::size_t>(n);
  // What a scanner reads ahead past the last line is then defined, as tools
  // like valgrind check.
  std::memset(buf_ + end_, 0, 1 + kReadAhead);
  return read_result::line;
}

read_result LineReader::readline(padded_view& line, bool may_read) {
  if (buf_ == nullptr) return read_result::end;
  for (;;) {
    std::size_t eol = std::min(next_of('\n', lf_), next_of('\r', cr_));
    if (eol < end_) {
      std::size_t after = eol + 1;
      if (buf_[eol] == '\r') {
        if (after == end_ && !eof_) {
          // Whether an LF follows decides where the next line starts.
          if (!may_read) return read_result::pending;
          if (read_result r = refill(); r != read_result::line) return r;
          continue;
        }
        if (after < end_ && buf_[after] == '\n') ++after;
      }
      line = padded_view(buf_ + pos_, eol - pos_);
      buf_[eol] = '\0';
      pos_ = after;
      return read_result::line;
    }
    if (eof_) {
      if (pos_ == end_) return read_result::end;
      line = padded_view(buf_ + pos_, end_ - pos_);
      buf_[end_] = '\0';
      pos_ = end_;
      return read_result::line;
    }
    if (!may_read) return read_result::pending;
    if (read_result r = refill(); r != read_result::line) return r;
  }
}

}  // namespace pairhits
