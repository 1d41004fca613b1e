#include "report_merge.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <queue>

#include "cli.h"
#include "messages.h"
#include "readline.h"
#include "report_writer.h"

namespace pairhits {

namespace {

constexpr std::size_t kReadBytes = 64 << 10;  // per report: thousands may be open at once

std::string_view name_of(padded_view line) {
  const std::string_view text = line.text();
  return text.substr(0, std::min(text.find('\t'), text.size()));
}

struct input {
  int fd = -1;
  std::unique_ptr<LineReader> reader;
  padded_view line;
  unsigned long long line_number = 0;
  std::string previous;  // the name of the line before, to check the order
  ~input() {
    if (fd >= 0) ::close(fd);
  }
};

// Writes lines to a descriptor through a buffer, remembering the first error.
class LineOutput {
 public:
  explicit LineOutput(int fd) : fd_(fd) {}
  bool put(padded_view line) {
    if (line.size() + 1 > sizeof buf_ - used_ && !flush()) return false;
    if (line.size() + 1 > sizeof buf_) {
      line.data()[line.size()] = '\n';
      return write_all(fd_, line.data(), line.size() + 1) || fail();
    }
    std::memcpy(buf_ + used_, line.data(), line.size());
    used_ += line.size();
    buf_[used_++] = '\n';
    return true;
  }
  bool flush() {
    const bool ok = used_ == 0 || write_all(fd_, buf_, used_);
    used_ = 0;
    return ok || fail();
  }
  int error_number() const { return errno_; }

 private:
  bool fail() {
    errno_ = errno;
    return false;
  }
  int fd_;
  int errno_ = 0;
  std::size_t used_ = 0;
  char buf_[64 << 10];
};

// One k-way merge of the reports at paths[first, last) onto `out`, each
// called by names[k] in the messages. A report out of name order, or a
// read name in two reports, is refused: they are not one split's parts.
int merge_once(const std::vector<std::string>& paths, const std::vector<std::string>& names, std::size_t first,
               std::size_t last, LineOutput& out, int err_fd, const volatile std::sig_atomic_t* stop) {
  std::vector<input> inputs(last - first);
  // The least name on top; of equal names (not expected), the earlier report.
  auto later = [&](std::size_t a, std::size_t b) {
    const int order = name_of(inputs[a].line).compare(name_of(inputs[b].line));
    return order > 0 || (order == 0 && a > b);
  };
  std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(later)> heap(later);
  const auto refuse = [&](const char* what, std::size_t k) {
    write_error(err_fd, report_fault_text(what, names[first + k], inputs[k].line_number));
    return false;
  };
  auto advance = [&](std::size_t k) {
    input& in = inputs[k];
    switch (in.reader->readline(in.line)) {
      case read_result::line:
        ++in.line_number;
        if (name_of(in.line) < std::string_view(in.previous)) return refuse(kReportOrderText, k);
        in.previous = name_of(in.line);
        heap.push(k);
        return true;
      case read_result::end:
        return true;
      case read_result::read_error:
        write_error_with_reason(err_fd, problem_reading_text(paths[first + k]).c_str(), inputs[k].reader->error_text());
        return false;
      default:
        write_malloc_failed(err_fd);
        return false;
    }
  };
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    inputs[k].fd = ::open(paths[first + k].c_str(), O_RDONLY | O_CLOEXEC);
    if (inputs[k].fd < 0) {
      write_error_with_reason(err_fd, problem_reading_text(paths[first + k]).c_str(), std::strerror(errno));
      return 1;
    }
    inputs[k].reader = std::make_unique<LineReader>(inputs[k].fd, kReadBytes, kReadBytes);
    if (!inputs[k].reader->ok()) {
      write_malloc_failed(err_fd);
      return 1;
    }
    if (!advance(k)) return 1;
  }
  std::size_t last_input = inputs.size();  // the report of the line put last, and its name
  std::string last_name;
  while (!heap.empty()) {
    const std::size_t k = heap.top();
    heap.pop();
    if (k != last_input && last_input < inputs.size() && name_of(inputs[k].line) == std::string_view(last_name)) {
      refuse(kReportTwiceText, k);
      return 1;
    }
    last_input = k;
    last_name = inputs[k].previous;
    if (!out.put(inputs[k].line)) break;
    if (!advance(k)) return 1;
    if (stop != nullptr && *stop != 0) return -1;
  }
  const bool flushed = out.flush();
  // A signal (SIGPIPE from a reader that went away, say) ends the run quietly.
  if (stop != nullptr && *stop != 0) return -1;
  if (!flushed) {
    write_error_with_reason(err_fd, kWritingReportText, std::strerror(out.error_number()));
    return 1;
  }
  return 0;
}

// merge_reports, each report called by names[k] in the messages.
int merge_named(const std::vector<std::string>& paths, const std::vector<std::string>& names, int out_fd, int err_fd,
                const volatile std::sig_atomic_t* stop) {
  // At least two, so that rounds always make progress.
  const std::size_t budget = std::max<std::size_t>(2, openable_descriptors(paths.size()));
  if (paths.size() <= budget) {
    LineOutput out(out_fd);
    return merge_once(paths, names, 0, paths.size(), out, err_fd, stop);
  }
  // Rounds: each group of `budget` reports into one file, then those files,
  // each called by the first and last reports in it.
  std::vector<std::string> rounds;
  std::vector<std::string> round_names;
  int status = 0;
  for (std::size_t first = 0; first < paths.size() && status == 0; first += budget) {
    rounds.push_back(paths[0] + ".round" + std::to_string(rounds.size()));
    const int fd = ::open(rounds.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      write_error_with_reason(err_fd, problem_writing_text(rounds.back()).c_str(), std::strerror(errno));
      status = 1;
      break;
    }
    const std::size_t last = std::min(first + budget, paths.size());
    round_names.push_back(names[first] + " ... " + names[last - 1]);
    auto out = std::make_unique<LineOutput>(fd);
    status = merge_once(paths, names, first, last, *out, err_fd, stop);
    if (::close(fd) != 0 && status == 0) status = 1;
  }
  if (status == 0) status = merge_named(rounds, round_names, out_fd, err_fd, stop);
  for (const std::string& r : rounds) ::unlink(r.c_str());
  return status;
}

}  // namespace

int merge_reports(const std::vector<std::string>& paths, int out_fd, int err_fd,
                  const volatile std::sig_atomic_t* stop) {
  return merge_named(paths, paths, out_fd, err_fd, stop);
}

}  // namespace pairhits
