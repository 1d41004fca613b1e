#include "background_read.h"

#include "quiet_thread.h"
#include "table_source.h"

namespace pairhits {

BackgroundRead::~BackgroundRead() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

bool BackgroundRead::start(char* buffer) {
  buffer_ = buffer;
  wanted_ = true;
  return start_quiet_thread(thread_, [this] { run(); });
}

void BackgroundRead::start_on_request(char* buffer) {
  on_request_ = true;
  give(buffer);
}

void BackgroundRead::read_now() {
  if (!on_request_ || !wanted_) return;
  wanted_ = false;
  result_ = source_.read(buffer_ + at_, room_);
}

long BackgroundRead::take() {
  if (on_request_) {
    read_now();
    return result_;
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return done_; });
  done_ = false;
  return result_;
}

void BackgroundRead::give(char* buffer) {
  if (on_request_) {
    buffer_ = buffer;
    wanted_ = true;
    return;
  }
  {
    std::lock_guard lock(mutex_);
    buffer_ = buffer;
    wanted_ = true;
  }
  changed_.notify_all();
}

void BackgroundRead::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return wanted_ || stopping_; });
    if (stopping_) return;
    wanted_ = false;
    char* into = buffer_ + at_;
    lock.unlock();
    const long n = source_.read(into, room_);
    lock.lock();
    result_ = n;
    done_ = true;
    changed_.notify_all();
  }
}

}  // namespace pairhits
