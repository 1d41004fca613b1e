// Fuzzes a whole run: the input bytes are the hit table, read through the
// real reader (4 KiB at a time, so lines cross its buffer's border),
// splitter, index and report. Each table is run on one thread and on
// several (2 to 7, by its size), and the two runs' report, messages and
// status must be the same bytes (unless memory is made to run out, which
// happens at different points).
// A leading byte selects a variant:
//   0x01: the second byte makes memory run out after that many allocations,
//         to fuzz the failure paths too;
//   0x02, 0x03: the rest is fed gzip-compressed or zstd-compressed, so the
//         decompressing reader sees every table the plain one does;
//   0x04: the rest is read many lines at a time, as pairhits-split reads,
//         and each line's scan must agree with check_hit_line on it;
//   0x05: the next four bytes choose the fields (--fields), the fifth how
//         lines tell their mate (marks anywhere, --marks, -1 or -2) and
//         which marks; a "# Fields:" header is checked against the fields.
// Other inputs may themselves start like gzip or zstd data: the decoders
// must then reject or decode whatever follows.
#include <fcntl.h>
#include <isa-l/igzip_lib.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zstd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "alloc.h"
#include "blast_parser.h"
#include "hit_splitter.h"
#include "line_scan.h"
#include "readline.h"

namespace {

std::vector<std::uint8_t> gzip_of(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> out(size + size / 2 + 1024);
  isal_zstream z;
  isal_deflate_stateless_init(&z);
  z.gzip_flag = IGZIP_GZIP;
  z.next_in = const_cast<std::uint8_t*>(data);
  z.avail_in = static_cast<std::uint32_t>(size);
  z.next_out = out.data();
  z.avail_out = static_cast<std::uint32_t>(out.size());
  if (isal_deflate_stateless(&z) != COMP_OK) abort();
  out.resize(z.total_out);
  return out;
}

std::vector<std::uint8_t> zstd_of(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> out(ZSTD_compressBound(size));
  const std::size_t n = ZSTD_compress(out.data(), out.size(), data, size, 1);
  if (ZSTD_isError(n)) abort();
  out.resize(n);
  return out;
}

bool starts_compressed(const std::uint8_t* data, std::size_t size) {
  return (size >= 2 && data[0] == 0x1f && data[1] == 0x8b) ||
         (size >= 4 && data[0] == 0x28 && data[1] == 0xb5 && data[2] == 0x2f && data[3] == 0xfd);
}

struct run_result {
  std::string out;
  std::string err;
  int status;
  bool operator==(const run_result&) const = default;
};

std::string read_back(int fd) {
  std::string text(static_cast<std::size_t>(lseek(fd, 0, SEEK_END)), '\0');
  if (pread(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) abort();
  close(fd);
  return text;
}

// A whole run of the table in `in` on `threads` threads.
run_result run_on(int in, const pairhits::line_format& format, int threads) {
  lseek(in, 0, SEEK_SET);
  const int out = memfd_create("pairhits-fuzz-out", MFD_CLOEXEC);
  const int err = memfd_create("pairhits-fuzz-err", MFD_CLOEXEC);
  if (out < 0 || err < 0) abort();
  const int status = pairhits::pairhits_run(in, out, err, 4096, format, threads);
  return {read_back(out), read_back(err), status};
}

// Scans the lines of `text` a few at a time where the reader gives them
// many at a time, and aborts where a line's verdict, name or mate differs
// from what check_hit_line gives, with the mate carried alike.
void compare_scans(std::string_view text) {
  using namespace pairhits;
  LineReader reader(text, 4096, 4096);
  std::int32_t scan_mate = 0;
  std::int32_t check_mate = 0;
  scanned_line out[5];
  padded_view lines;
  while (reader.read_lines(lines) == read_result::line) {
    if (lines.size() == 0) {  // a line with a CR end, or the last one without an end
      padded_view line;
      if (reader.readline(line) != read_result::line) break;
      hit_fields fields;
      check_hit_line(line, fields, check_mate);
      scan_mate = check_mate;
      continue;
    }
    for (std::size_t done = 0; done < lines.size();) {
      const padded_view rest = lines.part(done, lines.size() - done);
      std::size_t consumed = 0;
      const std::size_t n = scan_lines(rest, scan_mate, out, 5, consumed);
      for (std::size_t k = 0; k < n; ++k) {
        padded_text line(rest.part(out[k].start, out[k].size).text());
        hit_fields fields;
        const bool complete = check_hit_line(line.view(), fields, check_mate);
        if (complete != out[k].complete || check_mate != out[k].mate) abort();
        if (complete && fields.name.text() != rest.part(out[k].name_start, out[k].name_size).text()) abort();
      }
      if (n == 0) abort();
      done += consumed;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (size >= 1 && data[0] == 0x04) {
    compare_scans(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    return 0;
  }
  pairhits::line_format format;
  if (size >= 6 && data[0] == 0x05) {
    // Four fields among the first 16, the name's apart from the others.
    format.name = data[1] % 16;
    format.col3 = (format.name + 1 + data[2] % 15) % 16;
    format.col7 = (format.name + 1 + data[3] % 15) % 16;
    format.target = (format.name + 1 + data[4] % 15) % 16;
    format.check_columns = false;
    format.check_header = true;  // a "# Fields:" line among the bytes is checked
    static const char* const kMarks[][2] = {{"/1", "/2"}, {".1", ".2"}, {"_1", "_2"}, {"1", "2"}, {"/f", "/rev"}};
    format.mark1 = kMarks[data[5] / 4 % 5][0];
    format.mark2 = kMarks[data[5] / 4 % 5][1];
    const int rule = data[5] % 4;
    format.rule = rule == 0   ? pairhits::line_format::mates::anywhere
                  : rule == 1 ? pairhits::line_format::mates::at_end
                              : pairhits::line_format::mates::by_table;
    format.fixed_mate = rule == 3 ? 2 : 1;
    data += 6;
    size -= 6;
  }
  long allocations = -1;
  std::vector<std::uint8_t> compressed;
  if (size >= 2 && data[0] == 0x01) {
    allocations = data[1];
    data += 2;
    size -= 2;
  } else if (size >= 1 && (data[0] == 0x02 || data[0] == 0x03)) {
    compressed = data[0] == 0x02 ? gzip_of(data + 1, size - 1) : zstd_of(data + 1, size - 1);
    data = compressed.data();
    size = compressed.size();
  }
  const bool maybe_bad_data = compressed.empty() && starts_compressed(data, size);
  int in = memfd_create("pairhits-fuzz", MFD_CLOEXEC);
  if (in < 0) abort();
  if (size > 0 && write(in, data, size) != static_cast<ssize_t>(size)) abort();
  const int threads = 2 + static_cast<int>(size % 6);
  if (allocations >= 0) {
    lseek(in, 0, SEEK_SET);
    pairhits::fail_allocations_after(allocations);
    const int status = pairhits::pairhits_run(in, null_fd, null_fd, 4096, format, size % 2 == 0 ? 1 : threads);
    pairhits::fail_allocations_after(-1);
    close(in);
    if (status != 0 && status != 1) abort();
    return 0;
  }
  // A table in memory is always readable, and a file in memory always
  // writable: the only failure possible is bad compressed data.
  const run_result one = run_on(in, format, 1);
  if (one.status != 0 && !(one.status == 1 && maybe_bad_data)) abort();
  if (run_on(in, format, threads) != one) abort();
  close(in);
  return 0;
}
