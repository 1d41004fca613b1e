// The bytes of one table, from a descriptor or from memory, decompressed on
// the way if they are gzip (one member or several, as bgzip writes) or
// zstd data. The format is told by the first bytes, not by a file name, so
// standard input works as well as a file.
#pragma once

#include <cstddef>
#include <string_view>

namespace pairhits {

class Progress;

// Whether the first `n` bytes of a table are those of gzip or zstd data.
bool starts_compressed(const unsigned char* head, std::size_t n);

// The size of a table that is a regular file, and whether it is compressed;
// false for standard input, a pipe, or a file that cannot be examined. The
// descriptor's read offset is left alone.
bool regular_table_size(int fd, unsigned long long& bytes, bool& compressed);

class TableSource {
 public:
  // Reads from an open descriptor, which the caller keeps owning. Bytes
  // taken from it are counted in `progress`, if given.
  explicit TableSource(int fd, Progress* progress = nullptr);
  // Reads from memory (tests).
  explicit TableSource(std::string_view bytes);
  ~TableSource();
  TableSource(const TableSource&) = delete;
  TableSource& operator=(const TableSource&) = delete;

  // Up to `room` bytes of the table into `into`: how many, 0 at its end,
  // or -1 on an error, which error_text() describes.
  long read(char* into, std::size_t room);

  // The system's error number of a failed read, or 0 for bad compressed data.
  int error_number() const { return errno_; }
  const char* error_text() const;

 private:
  enum class format { unknown, plain, gzip, zstd };
  struct gzip_state;
  struct zstd_state;

  long read_raw(char* into, std::size_t room);
  long fill_input();
  bool sniff();
  bool start_decoder();
  long read_gzip(char* into, std::size_t room);
  long read_zstd(char* into, std::size_t room);
  long fail(int error_number, const char* text);
  bool out_of_memory();

  int fd_ = -1;
  std::string_view memory_;
  bool from_memory_ = false;
  Progress* progress_ = nullptr;
  format format_ = format::unknown;

  // The first bytes, which tell the format; plain text serves them first.
  unsigned char head_[4];
  std::size_t head_pos_ = 0;
  std::size_t head_end_ = 0;
  // Compressed input waiting to be decoded.
  unsigned char* in_ = nullptr;
  std::size_t in_pos_ = 0;
  std::size_t in_end_ = 0;
  bool raw_end_ = false;
  gzip_state* gzip_ = nullptr;
  zstd_state* zstd_ = nullptr;

  int errno_ = 0;
  const char* error_ = nullptr;
};

}  // namespace pairhits
