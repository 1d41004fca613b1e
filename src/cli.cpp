#include "cli.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "messages.h"
#include "report_writer.h"

namespace pairhits {

namespace {
// Where the value starts in an argument that holds a valued option and its
// value, as getopt reads them: "--name=value" (at the '=') or "-xvalue";
// 0 for any other argument.
std::size_t attached_value(std::string_view arg, const std::vector<std::string_view>& valued) {
  const auto is_valued = [&](std::string_view name) {
    return std::find(valued.begin(), valued.end(), name) != valued.end();
  };
  if (arg.starts_with("--")) {
    const std::size_t eq = arg.find('=');
    return eq != std::string_view::npos && is_valued(arg.substr(0, eq)) ? eq : 0;
  }
  return arg.size() > 2 && is_valued(arg.substr(0, 2)) ? 2 : 0;
}
}  // namespace

command_line parse_command_line(int argc, const char* const* argv, const std::vector<std::string_view>& valued) {
  command_line c;
  bool options = true;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const std::string_view arg = argv[i];
    const auto fault = [&](command_line::action what) {
      c.what = what;
      c.bad_option = argv[i];
      return c;
    };
    if (!options || arg.size() < 2 || arg[0] != '-') {
      c.paths.push_back(argv[i]);
    } else if (arg == "--") {
      options = false;
    } else if (arg == "-h" || arg == "--help") {
      c.what = command_line::action::help;
      return c;
    } else if (arg == "-V" || arg == "--version") {
      c.what = command_line::action::version;
      return c;
    } else if (const std::size_t at = attached_value(arg, valued); at > 0) {
      c.values.emplace_back(arg.substr(0, at), argv[i] + at + (arg[at] == '=' ? 1 : 0));
    } else if (std::find(valued.begin(), valued.end(), arg) == valued.end()) {
      return fault(command_line::action::bad_option);
    } else if (i + 1 >= argc || argv[i + 1] == nullptr) {
      return fault(command_line::action::missing_value);
    } else {
      c.values.emplace_back(arg, argv[++i]);
    }
  }
  return c;
}

int answer_without_running(const command_line& c, const char* program, const char* usage, int out_fd, int err_fd) {
  switch (c.what) {
    case command_line::action::run:
      return -1;
    case command_line::action::help:
      return write_message(out_fd, usage) ? 0 : 1;
    case command_line::action::version:
      return write_message(out_fd, (std::string(program) + " " PAIRHITS_VERSION "\n").c_str()) ? 0 : 1;
    case command_line::action::bad_option:
      return usage_error(err_fd, unknown_option_text(program).c_str(), c.bad_option);
    case command_line::action::missing_value:
      return usage_error(err_fd, kMissingValueText, c.bad_option);
  }
  return 2;
}

int usage_error(int err_fd, const char* what, const char* reason) {
  write_error_with_reason(err_fd, what, reason);
  return 2;
}

bool parse_count(const char* text, int max, int& value) {
  long long n = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || n > max) return false;
    n = n * 10 + (*p - '0');
  }
  if (*text == '\0' || n < 1 || n > max) return false;
  value = static_cast<int>(n);
  return true;
}

int usable_processors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<int>(online) : 1;
}

std::size_t openable_descriptors(std::size_t wanted) {
  constexpr rlim_t kSpare = 32;
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  const rlim_t needed = static_cast<rlim_t>(wanted) + kSpare;
  if (limit.rlim_cur < needed && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = std::min(needed, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur > kSpare ? static_cast<std::size_t>(limit.rlim_cur - kSpare) : 0;
}

OpenTables::~OpenTables() {
  for (const table_input& t : tables_) {
    if (t.fd != STDIN_FILENO) ::close(t.fd);
  }
}

bool OpenTables::open(const char* path) {
  int fd = STDIN_FILENO;
  if (std::strcmp(path, "-") != 0) {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    if (fd <= STDERR_FILENO) {
      // A closed standard stream must not be aliased by a table: output
      // written to it would otherwise land in (or fail on) the input.
      const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
      ::close(fd);
      if (high < 0) return false;
      fd = high;
    }
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    if (fd != STDIN_FILENO) ::close(fd);
    return false;
  }
  tables_.push_back({path, fd});
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    total_ += static_cast<unsigned long long>(st.st_size);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  } else {
    all_sized_ = false;
  }
  return true;
}

int open_tables(const std::vector<const char*>& paths, OpenTables& tables, int err_fd) {
  if (paths.empty()) return not_found(err_fd, nullptr);
  for (const char* path : paths) {
    if (!tables.open(path)) return not_found(err_fd, paths.size() > 1 ? path : nullptr);
  }
  return -1;
}

}  // namespace pairhits
