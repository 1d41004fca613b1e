// Views of bytes that may be read past their end.
//
// The field splitter loads whole 64-byte blocks, and the hashes and the
// number memo whole 8-byte words, without checking where a line or a field
// ends: one load instead of a copy of unknown size. That is sound only where
// the bytes after the end are allocated and defined. A padded_view carries
// that promise in its type. Only two things can make one: the line reader,
// over its buffer, which it keeps zeroed for kReadAhead bytes past the data;
// and padded_text, a padded copy of any text. A part of a view keeps the
// promise, since whatever followed the whole still follows the part.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace pairhits {

// Bytes that may be read past the end of a padded_view: the splitter's
// 64-byte blocks need the most.
inline constexpr std::size_t kReadAhead = 64;

class padded_view {
 public:
  // An empty view (of a padded empty text).
  padded_view() : data_(empty_padding()), size_(0) {}

  char* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::string_view text() const { return {data_, size_}; }

  // Bytes [offset, offset + length) of this view; they must lie within it.
  padded_view part(std::size_t offset, std::size_t length) const { return {data_ + offset, length}; }

 private:
  padded_view(char* data, std::size_t size) : data_(data), size_(size) {}
  static char* empty_padding() {
    static char zeros[kReadAhead + 1] = {};
    return zeros;
  }
  friend class LineReader;
  friend class padded_text;
  friend class padded_copies;

  char* data_;
  std::size_t size_;
};

// A copy of a text followed by a zero byte and kReadAhead more, for text
// that does not come from the line reader (tests, fuzzing).
class padded_text {
 public:
  explicit padded_text(std::string_view text) : bytes_(text) { bytes_.append(1 + kReadAhead, '\0'); }
  padded_view view() { return {bytes_.data(), bytes_.size() - 1 - kReadAhead}; }

 private:
  std::string bytes_;
};

// Zero-terminated copies of many texts in one buffer, with kReadAhead
// defined bytes after the last: each copy's padding is the copies after it.
// A copy made while fits() says so leaves the earlier ones in place;
// otherwise the buffer may move.
class padded_copies {
 public:
  bool fits(std::size_t size) const { return used_ + size + 1 + kReadAhead <= bytes_.size(); }
  padded_view add(std::string_view text) {
    if (!fits(text.size())) bytes_.resize(std::max(2 * (used_ + text.size() + 1 + kReadAhead), kFirstBytes));
    char* at = bytes_.data() + used_;
    text.copy(at, text.size());
    at[text.size()] = '\0';
    used_ += text.size() + 1;
    return {at, text.size()};
  }
  // Forgets every copy; the buffer is kept for the next ones.
  void clear() { used_ = 0; }

 private:
  static constexpr std::size_t kFirstBytes = 64 * 1024;
  std::string bytes_;
  std::size_t used_ = 0;
};

}  // namespace pairhits
