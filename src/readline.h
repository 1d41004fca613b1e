// Line reader: splits a byte stream into lines of any length.
//
// A line ends at LF, at CR LF, or at a lone CR; the line end is not part of
// the line, and a CR LF pair is one line end even when a read boundary falls
// between the two bytes. A last line without a line end is still a line; an
// input that ends with a line end has no empty line after it. Zero bytes are
// ordinary bytes: they neither end a line nor hide one.
//
// The reader fills one growing buffer with large reads and hands out lines in
// place, so reading costs no allocation per line. Asked to read ahead, it
// has a second buffer filled, on a thread of its own or on request, while
// it hands out the lines of the first (background_read.h); on request, a
// third lets the lines of two buffers be in use while the next is read.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "read_ahead.h"
#include "table_source.h"

namespace pairhits {

class BackgroundRead;

enum class read_result {
  line,            // a line was returned
  end,             // no more lines
  read_error,      // the source failed; error_number() says why
  realloc_failed,  // a line outgrew the buffer and it could not be enlarged
  pending,         // the next line needs a read, and reading was not allowed
};

// Whether and how the reader reads ahead into a second buffer.
enum class read_ahead {
  none,        // it reads when it needs the bytes
  on_thread,   // a thread of its own reads the next bytes meanwhile
  on_request,  // read_ahead_now() reads them, on whatever thread calls it
};

class LineReader {
 public:
  static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 20;
  // Background reads take two buffers (three on request): of half the size,
  // two take the memory of one, and reads of 512 KiB cost no more per byte
  // than reads of 1 MiB.
  static constexpr std::size_t kBackgroundCapacity = kDefaultCapacity / 2;

  // Reads a table's bytes, `max_read` at most per read (tests put read
  // boundaries anywhere this way), from a source the caller keeps owning,
  // reading ahead as `ahead` says.
  explicit LineReader(TableSource& source, std::size_t capacity = kDefaultCapacity,
                      std::size_t max_read = kDefaultCapacity, read_ahead ahead = read_ahead::none);
  // The same from an open file descriptor, which the caller keeps owning.
  explicit LineReader(int fd, std::size_t capacity = kDefaultCapacity,
                      std::size_t max_read = kDefaultCapacity);
  // The same from memory.
  explicit LineReader(std::string_view text, std::size_t capacity = kDefaultCapacity,
                      std::size_t max_read = kDefaultCapacity, read_ahead ahead = read_ahead::none);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // False if the first buffer could not be allocated.
  bool ok() const { return buf_ != nullptr; }

  // On read_result::line, `line` holds the line's bytes, followed by a zero
  // byte that the reader wrote over the line end and then by kReadAhead more
  // readable bytes (zero past the data read). The line's bytes may be
  // modified. They stay valid until a call that reads: with `may_read`
  // false, the reader returns read_result::pending instead of reading, so a
  // caller can hold on to several lines at once.
  read_result readline(padded_view& line, bool may_read = true);

  // Many lines at once, for a caller that finds the LFs itself: the next
  // lines up to the last LF in the buffer that comes before any CR, as one
  // view that ends with that LF and is followed by kReadAhead readable
  // bytes. Valid until the next call that reads. The view is empty when the
  // next line is to be taken with readline instead: a CR comes first, or the
  // input's last line has no line end. With `may_move` false, the lines
  // handed out by the call before stay valid, their bytes as they are,
  // until the next call, whatever read_ahead_now() reads meanwhile: when
  // the next lines need more than one trade of buffers (a third buffer,
  // which rests for a trade, makes that possible; the unfinished line
  // must not move within its buffer or grow it), the reader returns
  // read_result::pending instead, and the next call may move them.
  read_result read_lines(padded_view& lines, bool may_move = true);

  // Reads the next bytes into the second buffer now, when reading ahead on
  // request and they are not read yet. Any thread may call it, but not
  // while another call on the reader runs; the lines handed out stay valid.
  void read_ahead_now();

  // Why a read failed: the system's error number (0 for bad compressed
  // data), and a text for messages.
  int error_number() const { return source_->error_number(); }
  const char* error_text() const { return source_->error_text(); }

 private:
  // Where the next occurrence of one byte value lies, so that every byte is
  // searched at most once for each of LF and CR however the lines fall.
  struct Search {
    std::size_t found = kNone;  // offset of the next occurrence, if known
    std::size_t scanned = 0;    // bytes before this offset hold no other one
  };
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  std::size_t next_of(char byte, Search& search);
  void start_reading_ahead(read_ahead ahead);
  bool refill_keeps_lines() const;
  void move_searches(std::size_t start);
  void move_to_front();
  bool make_room(std::size_t bytes);
  read_result refill();
  read_result refill_from_background();
  TableSource own_;  // the source, unless the caller gave one
  TableSource* source_;
  std::unique_ptr<BackgroundRead> background_;
  // On request, a third buffer: the one last traded away, read into only
  // after the next trade.
  char* resting_ = nullptr;
  std::size_t resting_capacity_ = 0;
  char* spare_ = nullptr;  // the buffer being filled in the background, or just filled
  std::size_t spare_capacity_ = 0;
  std::size_t head_room_ = 0;  // bytes kept free at a spare's front for the unfinished line
  read_result failed_ = read_result::line;  // how background reading failed, if it did

  char* buf_ = nullptr;
  std::size_t capacity_ = 0;  // usable bytes; the zero byte and kReadAhead more are allocated
  std::size_t max_read_ = 0;
  std::size_t pos_ = 0;  // start of the unreturned data
  std::size_t end_ = 0;  // end of the data in the buffer
  bool eof_ = false;
  Search lf_;
  Search cr_;
};

}  // namespace pairhits
