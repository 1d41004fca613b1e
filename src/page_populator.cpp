#include "page_populator.h"

#include <sys/mman.h>

#include <cerrno>

#include "quiet_thread.h"

namespace pairhits {

PagePopulator::~PagePopulator() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void PagePopulator::populate(void* p, std::size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (refused_ || count_ == kWaiting) return;
    if (!started_) {
      started_ = true;
      if (!start_quiet_thread(thread_, [this] { run(); })) {
        refused_ = true;
        return;
      }
    }
    waiting_[(first_ + count_++) % kWaiting] = {p, bytes};
  }
  wake_.notify_one();
#else
  (void)p;
  (void)bytes;
#endif
}

void PagePopulator::wait_idle() {
  std::unique_lock<std::mutex> guard(lock_);
  idle_.wait(guard, [this] { return count_ == 0 && !busy_; });
}

void PagePopulator::run() {
#if defined(MADV_POPULATE_WRITE)
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    wake_.wait(guard, [this] { return stop_ || count_ > 0; });
    if (stop_) return;
    const request r = waiting_[first_];
    first_ = (first_ + 1) % kWaiting;
    --count_;
    busy_ = true;
    guard.unlock();
    // Out of memory (ENOMEM) or a range gone (EFAULT) leave the faults to
    // the run; an advice the kernel does not know (EINVAL) is not asked again.
    const bool unknown = ::madvise(r.p, r.bytes, MADV_POPULATE_WRITE) != 0 && errno == EINVAL;
    guard.lock();
    busy_ = false;
    if (unknown) {
      refused_ = true;
      count_ = 0;
    }
    idle_.notify_all();
  }
#endif
}

}  // namespace pairhits
