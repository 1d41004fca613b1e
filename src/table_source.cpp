#include "table_source.h"

#include <isa-l/igzip_lib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "alloc.h"
#include "progress.h"

namespace pairhits {

namespace {
constexpr std::size_t kInputBytes = 256 * 1024;  // compressed bytes taken at a time
constexpr unsigned char kGzipMagic[] = {0x1f, 0x8b};
constexpr unsigned char kZstdMagic[] = {0x28, 0xb5, 0x2f, 0xfd};
constexpr std::size_t kSniffBytes = sizeof kZstdMagic;

template <std::size_t N>
bool starts_with(const unsigned char* p, std::size_t n, const unsigned char (&magic)[N]) {
  return n >= N && std::memcmp(p, magic, N) == 0;
}
}  // namespace

bool starts_compressed(const unsigned char* head, std::size_t n) {
  return starts_with(head, n, kGzipMagic) || starts_with(head, n, kZstdMagic);
}

bool regular_table_size(int fd, unsigned long long& bytes, bool& compressed) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  unsigned char head[kSniffBytes];
  const ssize_t n = ::pread(fd, head, sizeof head, 0);
  bytes = static_cast<unsigned long long>(st.st_size);
  compressed = n > 0 && starts_compressed(head, static_cast<std::size_t>(n));
  return true;
}

struct TableSource::gzip_state {
  inflate_state state;
  bool member_done;
};

struct TableSource::zstd_state {
  ZSTD_DStream* stream;
  std::size_t pending;  // 0 when the last frame is complete
};

TableSource::TableSource(int fd, Progress* progress) : fd_(fd), progress_(progress) {}

TableSource::TableSource(std::string_view bytes) : memory_(bytes), from_memory_(true) {}

TableSource::~TableSource() {
  if (zstd_ != nullptr) ZSTD_freeDStream(zstd_->stream);
  mem_free(zstd_);
  mem_free(gzip_);
  mem_free(in_);
}

const char* TableSource::error_text() const { return error_ != nullptr ? error_ : std::strerror(errno_); }

bool TableSource::out_of_memory() {
  fail(ENOMEM, nullptr);
  return false;
}

long TableSource::fail(int error_number, const char* text) {
  errno_ = error_number;
  error_ = text;
  return -1;
}

long TableSource::read_raw(char* into, std::size_t room) {
  if (from_memory_) {
    const std::size_t n = std::min(room, memory_.size());
    std::memcpy(into, memory_.data(), n);
    memory_.remove_prefix(n);
    return static_cast<long>(n);
  }
  for (;;) {
    const ssize_t n = ::read(fd_, into, room);
    if (n >= 0) {
      if (progress_ != nullptr) progress_->advance(static_cast<std::size_t>(n));
      return n;
    }
    if (errno != EINTR) return fail(errno, nullptr);
  }
}

// Moves what is left of the input to its front and reads more after it.
// Returns the bytes read, 0 at the end of the raw input, or -1.
long TableSource::fill_input() {
  std::memmove(in_, in_ + in_pos_, in_end_ - in_pos_);
  in_end_ -= in_pos_;
  in_pos_ = 0;
  const long n = read_raw(reinterpret_cast<char*>(in_ + in_end_), kInputBytes - in_end_);
  if (n == 0) raw_end_ = true;
  if (n > 0) in_end_ += static_cast<std::size_t>(n);
  return n;
}

// Reads the first bytes and tells the format from them.
bool TableSource::sniff() {
  while (head_end_ < kSniffBytes && !raw_end_) {
    const long n = read_raw(reinterpret_cast<char*>(head_ + head_end_), kSniffBytes - head_end_);
    if (n < 0) return false;
    if (n == 0) raw_end_ = true;
    head_end_ += static_cast<std::size_t>(n);
  }
  if (starts_with(head_, head_end_, kGzipMagic)) {
    format_ = format::gzip;
  } else if (starts_with(head_, head_end_, kZstdMagic)) {
    format_ = format::zstd;
  } else {
    format_ = format::plain;
    return true;
  }
  return start_decoder();
}

// Sets up the decoder of a compressed format; its input starts with the first bytes.
bool TableSource::start_decoder() {
  in_ = static_cast<unsigned char*>(mem_alloc(kInputBytes));
  if (in_ == nullptr) return out_of_memory();
  std::memcpy(in_, head_, head_end_);
  in_end_ = head_end_;
  if (format_ == format::gzip) {
    gzip_ = static_cast<gzip_state*>(mem_alloc(sizeof(gzip_state)));
    if (gzip_ == nullptr) return out_of_memory();
    isal_inflate_init(&gzip_->state);
    gzip_->state.crc_flag = ISAL_GZIP;
    gzip_->member_done = false;
    return true;
  }
  zstd_ = static_cast<zstd_state*>(mem_alloc(sizeof(zstd_state)));
  if (zstd_ == nullptr) return out_of_memory();
  zstd_->pending = 0;
  zstd_->stream = ZSTD_createDStream();
  return zstd_->stream != nullptr || out_of_memory();
}

long TableSource::read(char* into, std::size_t room) {
  if (format_ == format::unknown && !sniff()) return -1;
  switch (format_) {
    case format::gzip:
      return read_gzip(into, room);
    case format::zstd:
      return read_zstd(into, room);
    default:
      break;
  }
  if (head_pos_ < head_end_) {
    const std::size_t n = std::min(room, head_end_ - head_pos_);
    std::memcpy(into, head_ + head_pos_, n);
    head_pos_ += n;
    return static_cast<long>(n);
  }
  return raw_end_ ? 0 : read_raw(into, room);
}

long TableSource::read_gzip(char* into, std::size_t room) {
  inflate_state& s = gzip_->state;
  for (;;) {
    if (in_pos_ == in_end_ && !raw_end_ && fill_input() < 0) return -1;
    if (gzip_->member_done) {
      // Another member may follow (bgzip writes many); the input may also end here.
      if (in_pos_ == in_end_) {
        if (raw_end_) return 0;
        continue;
      }
      isal_inflate_reset(&s);
      s.crc_flag = ISAL_GZIP;
      gzip_->member_done = false;
    }
    s.next_in = in_ + in_pos_;
    s.avail_in = static_cast<std::uint32_t>(in_end_ - in_pos_);
    s.next_out = reinterpret_cast<std::uint8_t*>(into);
    s.avail_out = static_cast<std::uint32_t>(std::min<std::size_t>(room, UINT32_MAX));
    const int status = isal_inflate(&s);
    in_pos_ = in_end_ - s.avail_in;
    if (status == ISAL_INCORRECT_CHECKSUM) return fail(0, "gzip data fails its checksum");
    if (status < 0) return fail(0, "corrupt gzip data");
    gzip_->member_done = s.block_state == ISAL_BLOCK_FINISH;
    const std::size_t produced = room - s.avail_out;
    if (produced > 0) return static_cast<long>(produced);
    if (gzip_->member_done) continue;
    // With room for output, the decoder takes all the input it is given.
    if (in_pos_ < in_end_) return fail(0, "corrupt gzip data");
    if (raw_end_) return fail(0, "truncated gzip data");
  }
}

long TableSource::read_zstd(char* into, std::size_t room) {
  for (;;) {
    if (in_pos_ == in_end_ && !raw_end_ && fill_input() < 0) return -1;
    // The input may end between frames, not inside one.
    if (in_pos_ == in_end_ && raw_end_ && zstd_->pending == 0) return 0;
    ZSTD_inBuffer in{in_, in_end_, in_pos_};
    ZSTD_outBuffer out{into, room, 0};
    const std::size_t status = ZSTD_decompressStream(zstd_->stream, &out, &in);
    if (ZSTD_isError(status)) return fail(0, "corrupt zstd data");
    const bool moved = out.pos > 0 || in.pos != in_pos_;
    in_pos_ = in.pos;
    zstd_->pending = status;
    if (out.pos > 0) return static_cast<long>(out.pos);
    if (!moved && in_pos_ < in_end_) return fail(0, "corrupt zstd data");
    if (!moved && raw_end_) return fail(0, "truncated zstd data");
  }
}

}  // namespace pairhits
