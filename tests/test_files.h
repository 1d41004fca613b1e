// Files for tests: a temporary folder removed with everything in it, a
// descriptor over memory whose bytes can be read back, and whole-file reads
// and writes.
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

}  // namespace pairhits
