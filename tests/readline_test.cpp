#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <isa-l/igzip_lib.h>
#include <zstd.h>

#include "alloc.h"
#include "readline.h"

namespace pairhits {
namespace {

using namespace std::string_literals;

struct shape {
  std::size_t capacity;
  std::size_t max_read;
};

// Buffer sizes and read sizes that put read boundaries everywhere, including
// the classic 1024-byte buffer read 1023 bytes at a time.
const shape kShapes[] = {{1, 1},       {2, 1},       {3, 2},    {7, 3},   {16, 1000},
                         {1024, 1023}, {1024, 1024}, {1023, 1}, {4096, 4096}};

// With `many`, lines are taken many at a time where the reader can give
// them so, and one by one where it cannot. With `beside`, many lines are
// first asked for without moving the ones handed out before, which must
// then be intact, and when the reader cannot, asked for again.
std::vector<std::string> read_all(const std::string& text, shape s, read_ahead ahead, bool many = false,
                                  bool beside = false) {
  LineReader reader(std::string_view(text), s.capacity, s.max_read, ahead);
  std::vector<std::string> lines;
  padded_view line;
  read_result r;
  std::string held;  // the lines handed out last, while still valid
  padded_view held_at;
  for (;;) {
    if (many) {
      r = reader.read_lines(line, !beside);
      reader.read_ahead_now();  // the lines handed out must stay as they are
      if (r == read_result::pending) {
        r = reader.read_lines(line);
        reader.read_ahead_now();
      } else if (beside && held_at.size() > 0) {
        EXPECT_EQ(held_at.text(), held) << "lines handed out before were moved or changed";
      }
      if (r != read_result::line) break;
      held = line.text();
      held_at = line;
      std::string_view rest = line.text();
      EXPECT_EQ(rest.find('\r'), std::string_view::npos);
      EXPECT_TRUE(rest.empty() || rest.back() == '\n');
      for (std::size_t lf; (lf = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(lf + 1)) {
        lines.emplace_back(rest.substr(0, lf));
      }
      if (line.size() > 0) continue;
    }
    held_at = padded_view();
    if ((r = reader.readline(line)) != read_result::line) break;
    reader.read_ahead_now();
    EXPECT_EQ(line.data()[line.size()], '\0') << "a line is followed by a zero byte";
    lines.emplace_back(line.text());
  }
  EXPECT_EQ(r, read_result::end);
  return lines;
}

// Every shape, read by the reader itself, on a thread of its own and on request.
std::vector<std::pair<shape, read_ahead>> shapes_and_modes() {
  std::vector<std::pair<shape, read_ahead>> all;
  for (read_ahead ahead : {read_ahead::none, read_ahead::on_thread, read_ahead::on_request}) {
    for (shape s : kShapes) all.emplace_back(s, ahead);
  }
  return all;
}

// The lines of `text`, which background reads must not change. Each is a
// hand-over between threads: tiny reads are made in the background only in
// the tests with short tables.
std::vector<std::string> read_all(const std::string& text, shape s) {
  std::vector<std::string> lines = read_all(text, s, read_ahead::none);
  EXPECT_EQ(read_all(text, s, read_ahead::none, true), lines) << "many lines at a time";
  EXPECT_EQ(read_all(text, s, read_ahead::on_request, true), lines) << "reads ahead on request";
  EXPECT_EQ(read_all(text, s, read_ahead::on_request, true, true), lines) << "next lines beside the last";
  if (s.max_read >= 1000) {
    EXPECT_EQ(read_all(text, s, read_ahead::on_thread), lines) << "background reads";
  }
  return lines;
}

struct line_case {
  std::string input;
  std::vector<std::string> lines;
};

TEST(LineReader, SplitsAtEveryKindOfLineEnd) {
  const std::vector<line_case> cases = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\nb", {"a", "b"}},
      {"\n", {""}},
      {"\n\n", {"", ""}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\r\n", {"a"}},
      {"a\rb\n", {"a", "b"}},  // a lone CR ends a line and keeps the rest
      {"a\r", {"a"}},
      {"a\r\r\n", {"a", ""}},
      {"\r\n\r\n", {"", ""}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\n\r", {"a", ""}},
      {"x/1\tb\tc\r\ny\n", {"x/1\tb\tc", "y"}},
      {"a\0b\nc"s, {"a\0b"s, "c"}},  // a zero byte is part of its line
      {"\0\n\0"s, {"\0"s, "\0"s}},
      {"tail without end\r\nlast", {"tail without end", "last"}},
  };
  for (const auto& c : cases) {
    for (shape s : kShapes) {
      EXPECT_EQ(read_all(c.input, s), c.lines)
          << "input '" << c.input << "' capacity " << s.capacity << " read " << s.max_read;
    }
  }
}

TEST(LineReader, LongLinesAcrossBufferBorders) {
  // Lengths around one and several 1023/1024-byte reads, each with every
  // line end, followed by another line that must come back intact.
  const std::size_t lengths[] = {1021, 1022, 1023, 1024, 1025, 2045, 2046, 2047, 3 * 1023 + 10, 70000};
  for (std::size_t n : lengths) {
    std::string body;
    for (std::size_t i = 0; i < n; ++i) body += static_cast<char>('a' + i % 26);
    for (const char* end : {"\n", "\r\n", "\r", ""}) {
      const bool has_end = *end != '\0';
      const std::string input = body + end + (has_end ? "next\n" : "");
      const std::vector<std::string> expected =
          has_end ? std::vector<std::string>{body, "next"} : std::vector<std::string>{body};
      for (shape s : kShapes) {
        if (s.max_read == 1 && n > 5000) continue;  // same borders, just slower
        EXPECT_EQ(read_all(input, s), expected)
            << "length " << n << " end " << (has_end ? int(end[0]) : 0) << " capacity "
            << s.capacity << " read " << s.max_read;
      }
    }
  }
}

std::string gzip_of(const std::string& text) {
  std::string out(text.size() + 1024, '\0');
  isal_zstream z;
  isal_deflate_stateless_init(&z);
  z.gzip_flag = IGZIP_GZIP;
  z.next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<std::uint32_t>(text.size());
  z.next_out = reinterpret_cast<std::uint8_t*>(out.data());
  z.avail_out = static_cast<std::uint32_t>(out.size());
  EXPECT_EQ(isal_deflate_stateless(&z), COMP_OK);
  out.resize(z.total_out);
  return out;
}

std::string zstd_of(const std::string& text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
  return out;
}

// Compressed tables come out as the same lines, in one piece or several
// (members, frames), wherever reads and the buffer's borders fall.
TEST(LineReader, CompressedTablesGiveTheSameLines) {
  std::string text;
  std::vector<std::string> lines;
  for (int i = 0; i < 300; ++i) {
    lines.push_back("r" + std::to_string(i) + "/1\tx\t" + std::string(static_cast<std::size_t>(i % 37), 'y'));
    text += lines.back() + (i % 3 == 0 ? "\r\n" : "\n");
  }
  const std::size_t half = text.size() / 2;
  const std::string inputs[] = {gzip_of(text), gzip_of(text.substr(0, half)) + gzip_of(text.substr(half)),
                                zstd_of(text), zstd_of(text.substr(0, half)) + zstd_of(text.substr(half))};
  for (const std::string& input : inputs) {
    for (shape s : kShapes) {
      EXPECT_EQ(read_all(input, s), lines) << "capacity " << s.capacity << " read " << s.max_read;
    }
  }
}

TEST(LineReader, HoldsLinesUntilAllowedToRead) {
  // With reading forbidden, the reader hands out what it holds, then says
  // pending without losing anything; earlier lines stay intact meanwhile.
  const std::string text = "one\ntwo\r\nthree\rfour";
  for (const auto& [s, ahead] : shapes_and_modes()) {
    LineReader reader(std::string_view(text), s.capacity, s.max_read, ahead);
    std::vector<std::pair<char*, std::size_t>> held;
    std::vector<std::string> copies;
    std::vector<std::string> lines;
    padded_view line;
    for (;;) {
      read_result r = reader.readline(line, held.empty());
      if (r == read_result::pending) {
        reader.read_ahead_now();  // must leave the held lines alone
        for (std::size_t k = 0; k < held.size(); ++k) {
          ASSERT_EQ(std::string(held[k].first, held[k].second), copies[k]);
        }
        held.clear();
        copies.clear();
        continue;
      }
      if (r != read_result::line) break;
      held.emplace_back(line.data(), line.size());
      copies.emplace_back(line.text());
      lines.emplace_back(line.text());
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three", "four"}))
        << "capacity " << s.capacity << " read " << s.max_read << " read ahead " << static_cast<int>(ahead);
  }
}

TEST(LineReader, ReadsFromFileDescriptor) {
  char path[] = "/tmp/pairhits-readline-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  unlink(path);
  const std::string text = "one\r\ntwo\rthree\nfour";
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
  LineReader reader(fd, 4, 3);
  std::vector<std::string> lines;
  padded_view line;
  while (reader.readline(line) == read_result::line) lines.emplace_back(line.text());
  close(fd);
  EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three", "four"}));
}

TEST(LineReader, ReportsReadErrors) {
  int fd = open("/", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  LineReader reader(fd);
  padded_view line;
  EXPECT_EQ(reader.readline(line), read_result::read_error);
  EXPECT_EQ(reader.error_number(), EISDIR);
  // Read in the background, the error comes the same way, and again when asked again.
  TableSource source(fd);
  LineReader background(source, 4096, 4096, read_ahead::on_thread);
  EXPECT_EQ(background.readline(line), read_result::read_error);
  EXPECT_EQ(background.readline(line), read_result::read_error);
  EXPECT_EQ(background.error_number(), EISDIR);
  close(fd);
}

TEST(LineReader, ReportsABufferThatCannotGrow) {
  const std::string text = "short\n" + std::string(100, 'x') + "\n";
  LineReader reader(std::string_view(text), 8, 8);
  padded_view line;
  ASSERT_EQ(reader.readline(line), read_result::line);
  EXPECT_EQ(line.text(), "short");
  fail_allocations_after(0);
  EXPECT_EQ(reader.readline(line), read_result::realloc_failed);
  fail_allocations_after(-1);
}

}  // namespace
}  // namespace pairhits
