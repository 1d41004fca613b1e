#include "readline.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "alloc.h"
#include "background_read.h"

namespace pairhits {

namespace {
std::size_t usable(std::size_t capacity) { return std::clamp<std::size_t>(capacity, 1, SIZE_MAX / 2); }
// A spare buffer keeps an eighth of its room, up to this, in front of what
// is read into it: the unfinished line at the end of the current buffer is
// put there, so that background reads cost no move of the new bytes.
constexpr std::size_t kMaxHeadRoom = 64 << 10;
}  // namespace

// The buffer holds the data, a zero byte and kReadAhead more bytes.
LineReader::LineReader(TableSource& source, std::size_t capacity, std::size_t max_read, read_ahead ahead)
    : own_(std::string_view()), source_(&source), buf_(static_cast<char*>(mem_alloc(usable(capacity) + 1 + kReadAhead))),
      capacity_(usable(capacity)), max_read_(std::max<std::size_t>(max_read, 1)) {
  start_reading_ahead(ahead);
}

LineReader::LineReader(int fd, std::size_t capacity, std::size_t max_read)
    : own_(fd), source_(&own_), buf_(static_cast<char*>(mem_alloc(usable(capacity) + 1 + kReadAhead))),
      capacity_(usable(capacity)), max_read_(std::max<std::size_t>(max_read, 1)) {}

LineReader::LineReader(std::string_view text, std::size_t capacity, std::size_t max_read, read_ahead ahead)
    : own_(text), source_(&own_), buf_(static_cast<char*>(mem_alloc(usable(capacity) + 1 + kReadAhead))),
      capacity_(usable(capacity)), max_read_(std::max<std::size_t>(max_read, 1)) {
  start_reading_ahead(ahead);
}

LineReader::~LineReader() {
  background_.reset();  // the thread may be filling the spare
  mem_free(spare_);
  mem_free(resting_);
  mem_free(buf_);
}

// Without a spare buffer or a thread the reader reads for itself, as it
// would without being asked to read ahead.
void LineReader::start_reading_ahead(read_ahead ahead) {
  if (ahead == read_ahead::none || buf_ == nullptr) return;
  spare_ = static_cast<char*>(mem_alloc(capacity_ + 1 + kReadAhead));
  if (spare_ == nullptr) return;
  spare_capacity_ = capacity_;
  head_room_ = std::min(capacity_ / 8, kMaxHeadRoom);
  background_ = std::make_unique<BackgroundRead>(*source_, head_room_, std::min(capacity_ - head_room_, max_read_));
  if (ahead == read_ahead::on_request) {
    resting_ = static_cast<char*>(mem_alloc(capacity_ + 1 + kReadAhead));
    resting_capacity_ = resting_ != nullptr ? capacity_ : 0;
    background_->start_on_request(spare_);
  } else if (!background_->start(spare_)) {
    background_.reset();
    mem_free(spare_);
    spare_ = nullptr;
  }
}

void LineReader::read_ahead_now() {
  if (background_ != nullptr && failed_ == read_result::line && !eof_) background_->read_now();
}

std::size_t LineReader::next_of(char byte, Search& search) {
  if (search.found != kNone && search.found >= pos_) return search.found;
  std::size_t from = std::max(search.scanned, pos_);
  if (from == end_) return end_;  // searched to the end already: tables without CR, on every line
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

// The unfinished line, which starts at pos_, moves to `start` (in this
// buffer or the spare): the searches move with it, and forget what lies
// before it.
void LineReader::move_searches(std::size_t start) {
  for (Search* s : {&lf_, &cr_}) {
    s->found = (s->found != kNone && s->found >= pos_) ? s->found - pos_ + start : kNone;
    s->scanned = std::max(s->scanned, pos_) - pos_ + start;
  }
}

// Keeps the unfinished line at the front.
void LineReader::move_to_front() {
  if (pos_ == 0) return;
  std::memmove(buf_, buf_ + pos_, end_ - pos_);
  move_searches(0);
  end_ -= pos_;
  pos_ = 0;
}

// Grows the buffer, doubling it, until `bytes` more fit after the data: a
// line of L bytes costs O(L) copying and at most about 2L bytes.
bool LineReader::make_room(std::size_t bytes) {
  while (capacity_ - end_ < bytes) {
    const std::size_t bigger = capacity_ * 2;
    const bool fits = bigger > capacity_ && bigger < SIZE_MAX - 1 - kReadAhead;
    char* grown = fits ? static_cast<char*>(mem_realloc(buf_, bigger + 1 + kReadAhead)) : nullptr;
    if (grown == nullptr) return false;
    buf_ = grown;
    capacity_ = bigger;
  }
  return true;
}

read_result LineReader::refill() {
  if (background_ != nullptr) return refill_from_background();
  move_to_front();
  // Only a line that fills the whole buffer makes it grow.
  if (end_ == capacity_ && !make_room(1)) return read_result::realloc_failed;
  long n = source_->read(buf_ + end_, std::min(capacity_ - end_, max_read_));
  if (n < 0) return read_result::read_error;
  if (n == 0) eof_ = true;
  end_ += static_cast<std::size_t>(n);
  // What a scanner reads ahead past the last line is then defined, as tools
  // like valgrind check.
  std::memset(buf_ + end_, 0, 1 + kReadAhead);
  return read_result::line;
}

// The spare holds the next bytes after its head room. The unfinished line
// goes in front of them and the buffers trade places; a line longer than
// the head room stays where it is and the new bytes are copied after it.
read_result LineReader::refill_from_background() {
  // After a failure the thread reads no more: asking again gets the same answer.
  if (failed_ != read_result::line) return failed_;
  const long n = background_->take();
  if (n < 0) return failed_ = read_result::read_error;
  const auto fresh = static_cast<std::size_t>(n);
  const std::size_t unfinished = end_ - pos_;
  if (unfinished <= head_room_) {
    const std::size_t start = head_room_ - unfinished;
    std::memcpy(spare_ + start, buf_ + pos_, unfinished);
    move_searches(start);
    std::swap(buf_, spare_);
    std::swap(capacity_, spare_capacity_);
    if (resting_ != nullptr) {
      // The buffer left rests for one trade: the next read goes elsewhere.
      std::swap(spare_, resting_);
      std::swap(spare_capacity_, resting_capacity_);
    }
    pos_ = start;
    end_ = head_room_ + fresh;
  } else {
    move_to_front();
    if (!make_room(fresh)) return failed_ = read_result::realloc_failed;
    std::memcpy(buf_ + end_, spare_ + head_room_, fresh);
    end_ += fresh;
  }
  if (n == 0) {
    eof_ = true;
  } else {
    background_->give(spare_);
  }
  std::memset(buf_ + end_, 0, 1 + kReadAhead);
  return read_result::line;
}

// Whether a refill trades buffers and no more, touching nothing of the
// current one, which then rests (no read goes into it before the next
// trade), or repeats a failure.
bool LineReader::refill_keeps_lines() const {
  return background_ != nullptr && resting_ != nullptr && (failed_ != read_result::line || end_ - pos_ <= head_room_);
}

read_result LineReader::read_lines(padded_view& lines, bool may_move) {
  if (buf_ == nullptr) return read_result::end;
  bool traded = false;
  for (;;) {
    // LF is then the only line end before `limit`: the lines up to the last
    // one need no more than the search for it.
    const std::size_t limit = next_of('\r', cr_);
    if (const void* last = limit > pos_ ? memrchr(buf_ + pos_, '\n', limit - pos_) : nullptr) {
      const std::size_t after = static_cast<std::size_t>(static_cast<const char*>(last) - buf_) + 1;
      lines = padded_view(buf_ + pos_, after - pos_);
      pos_ = after;
      return read_result::line;
    }
    if (limit < end_ || eof_) {
      if (pos_ == end_) return read_result::end;
      lines = padded_view(buf_ + pos_, 0);
      return read_result::line;
    }
    // A second trade would read into the buffer of the lines handed out.
    if (!may_move && (traded || !refill_keeps_lines())) return read_result::pending;
    traded = true;
    if (read_result r = refill(); r != read_result::line) return r;
  }
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
