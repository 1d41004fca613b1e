// Files for tests: a temporary folder removed with everything in it, a
// descriptor over memory whose bytes can be read back, whole-file reads and
// writes, and a program function called as main would be.
#pragma once

#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace pairhits {

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The names in a folder, but . and ..
inline std::vector<std::string> list_folder(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(path.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
  }
  return names;
}

class TempDir {
 public:
  TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/pairhits-test.XXXXXX";
    if (::mkdtemp(path_.data()) == nullptr) path_.clear();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A descriptor over memory, holding `content` at first and read from its start.
class MemoryFile {
 public:
  explicit MemoryFile(const std::string& content = "") : fd_(::memfd_create("pairhits-test", 0)) {
    if (!content.empty() && ::write(fd_, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
      std::abort();
    }
    ::lseek(fd_, 0, SEEK_SET);
  }
  ~MemoryFile() { ::close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  int fd() const { return fd_; }
  // Everything written, from the start.
  std::string text() const {
    std::string text;
    char buf[65536];
    ssize_t n;
    for (off_t at = 0; (n = ::pread(fd_, buf, sizeof buf, at)) > 0; at += n) text.append(buf, static_cast<std::size_t>(n));
    return text;
  }

 private:
  int fd_;
};

// What a program function gave: its report, its messages, its status.
struct outcome {
  std::string out;
  std::string err;
  int status;
};

using program_main = int (*)(int, const char* const*, int, int);

// Calls `main` with `args` (the program's name first), its report and
// messages in memory.
inline outcome call_program(program_main main, const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  MemoryFile out;
  MemoryFile err;
  const int status = main(static_cast<int>(args.size()), argv.data(), out.fd(), err.fd());
  return {out.text(), err.text(), status};
}

}  // namespace pairhits
