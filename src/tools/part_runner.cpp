#include "part_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "messages.h"
#include "report_writer.h"
#include "split_layout.h"

extern char** environ;

namespace pairhits {

namespace {

constexpr int kPollMilliseconds = 100;  // how soon a signal is noticed while parts run

struct running {
  int part;
  pid_t pid;
  int err_fd;           // read end of the pipe that is the part's standard error
  std::string messages;
};

// Parts this small are read to see whether they hold a hit line; a part of
// mate lines only is a few bytes for each table split.
constexpr off_t kSmallPart = 4096;

// Whether the part table at `path` holds a hit line. When in doubt (it
// cannot be read here), it does: pairhits will say why.
bool holds_hits(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || st.st_size > kSmallPart) return true;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  char buf[kSmallPart + 1];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  ::close(fd);
  return n < 0 || n > kSmallPart || holds_hit_line(buf, static_cast<std::size_t>(n));
}

// Starts `program part` with its report in the part's .out file.
bool start(const char* program, const std::vector<std::string>& options, const std::string& dir, int part, running& r,
           std::string& error) {
  const std::string table = part_path(dir, part);
  const std::string report = part_path(dir, part, ".out");
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    error = cannot_run_text(program) + ": " + std::strerror(errno);
    return false;
  }
  // The parent reads whatever is there and goes back to polling.
  ::fcntl(pipe_fds[0], F_SETFL, O_NONBLOCK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, s);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv = {const_cast<char*>(program)};
  for (const std::string& o : options) argv.push_back(const_cast<char*>(o.c_str()));
  argv.push_back(const_cast<char*>(table.c_str()));
  argv.push_back(nullptr);
  const int failed = posix_spawnp(&r.pid, program, &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipe_fds[1]);
  if (failed != 0) {
    ::close(pipe_fds[0]);
    error = cannot_run_text(program) + ": " + std::strerror(failed);
    return false;
  }
  r.part = part;
  r.err_fd = pipe_fds[0];
  return true;
}

// Waits for a part whose messages have ended; returns its exit status, or
// 128 + the signal that ended it.
int finish(running& r) {
  ::close(r.err_fd);
  int status = 0;
  while (::waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void stop_all(std::vector<running>& active) {
  for (running& r : active) ::kill(r.pid, SIGTERM);
  for (running& r : active) finish(r);
  active.clear();
}

// Reads what a part wrote on its standard error; false once it has ended.
bool collect(running& r) {
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(r.err_fd, buf, sizeof buf);
    if (n > 0) {
      if (r.messages.size() < (1 << 20)) r.messages.append(buf, static_cast<std::size_t>(n));
      continue;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);  // 0: the part has closed its end
  }
}

}  // namespace

int run_parts(const char* program, const std::vector<std::string>& options, const std::string& dir, int parts,
              int jobs, int err_fd, const volatile std::sig_atomic_t* stop, std::vector<int>& reports) {
  std::vector<running> active;
  int next = 0;
  while (next < parts || !active.empty()) {
    if (*stop != 0) {
      stop_all(active);
      return -1;
    }
    while (next < parts && static_cast<int>(active.size()) < jobs) {
      if (const std::string table = part_path(dir, next); !holds_hits(table)) {
        ::unlink(table.c_str());
        ++next;
        continue;
      }
      running r;
      std::string error;
      if (!start(program, options, dir, next, r, error)) {
        stop_all(active);
        write_error(err_fd, error);
        return 1;
      }
      active.push_back(r);
      reports.push_back(next++);
    }
    std::vector<pollfd> fds;
    for (const running& r : active) fds.push_back({r.err_fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), kPollMilliseconds) <= 0) continue;
    for (std::size_t k = active.size(); k-- > 0;) {
      if (fds[k].revents == 0 || collect(active[k])) continue;
      running done = active[k];
      active.erase(active.begin() + static_cast<long>(k));
      const int status = finish(done);
      if (status != 0 && *stop != 0) {
        // Ended by the same signal as this run (Ctrl-C reaches the whole process group).
        stop_all(active);
        return -1;
      }
      if (status != 0) {
        stop_all(active);
        write_message(err_fd, done.messages.c_str());
        write_part_failed(err_fd, done.part, parts, status);
        return 1;
      }
      // Done with: its disk space and page cache go to the parts still to run.
      ::unlink(part_path(dir, done.part).c_str());
    }
  }
  return 0;
}

}  // namespace pairhits
