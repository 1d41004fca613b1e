// The page populator: a helper thread that backs memory the run is about to
// use (madvise MADV_POPULATE_WRITE), so that the kernel allocates and zeroes
// those pages on another core instead of in page faults of the run.
//
// Requests are hints. One is dropped when several wait already, when the
// thread cannot start, or after the kernel has refused one (kernels before
// 5.14 lack the advice); the run then takes its own page faults as before.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace pairhits {

class PagePopulator {
 public:
  PagePopulator() = default;
  ~PagePopulator();
  PagePopulator(const PagePopulator&) = delete;
  PagePopulator& operator=(const PagePopulator&) = delete;

  // Asks for [p, p + bytes) of a private anonymous mapping to be backed.
  void populate(void* p, std::size_t bytes);

  // Returns once no request is waiting or under way: what was asked for may
  // then be unmapped or given back.
  void wait_idle();

 private:
  struct request {
    void* p;
    std::size_t bytes;
  };
  static constexpr int kWaiting = 4;  // requests that may wait at once

  void run();

  std::mutex lock_;
  std::condition_variable wake_;  // a request or the stop
  std::condition_variable idle_;
  request waiting_[kWaiting] = {};
  int first_ = 0;
  int count_ = 0;
  bool busy_ = false;
  bool stop_ = false;
  bool started_ = false;
  bool refused_ = false;  // no thread, or the kernel refused the advice
  std::thread thread_;
};

}  // namespace pairhits
