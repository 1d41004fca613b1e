#include "cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace pairhits {

command_line parse_command_line(int argc, const char* const* argv) {
  command_line c;
  bool options = true;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    const char* arg = argv[i];
    if (!options || arg[0] != '-' || arg[1] == '\0') {
      c.paths.push_back(arg);
    } else if (std::strcmp(arg, "--") == 0) {
      options = false;
    } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      c.what = command_line::action::help;
      return c;
    } else if (std::strcmp(arg, "-V") == 0 || std::strcmp(arg, "--version") == 0) {
      c.what = command_line::action::version;
      return c;
    } else {
      c.what = command_line::action::bad_option;
      c.bad_option = arg;
      return c;
    }
  }
  return c;
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

}  // namespace pairhits
