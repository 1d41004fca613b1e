#include "work_crew.h"

#include "quiet_thread.h"

namespace pairhits {

WorkCrew::WorkCrew(int members) : meeting_(members < 1 ? 1 : members) {
  for (int k = 1; k < members; ++k) {
    std::thread t;
    if (!start_quiet_thread(t, [this, k] { serve(k); })) {
      // The member that did not start leaves every meeting to come.
      for (int missing = k; missing < members; ++missing) meeting_.arrive_and_drop();
      break;
    }
    threads_.push_back(std::move(t));
  }
}

WorkCrew::~WorkCrew() {
  job_ = nullptr;
  meeting_.arrive_and_wait();
  for (std::thread& t : threads_) t.join();
}

void WorkCrew::run(const std::function<void(int)>& job) {
  job_ = &job;
  meeting_.arrive_and_wait();  // the job is set
  job(0);
  meeting_.arrive_and_wait();  // every member is done
}

void WorkCrew::serve(int member) {
  for (;;) {
    meeting_.arrive_and_wait();
    if (job_ == nullptr) return;
    (*job_)(member);
    meeting_.arrive_and_wait();
  }
}

}  // namespace pairhits
