// The work crew: the threads of a run, which do each step of it together.
//
// The caller is member 0 and the crew's own threads the others. run(job)
// calls job(k) on every member k and returns when all have returned, so what
// a step wrote is seen by every later step; sync() is the same meeting within
// a step. Threads the system cannot give are simply not members: the crew
// is then smaller, and callers size their work by size().
#pragma once

#include <barrier>
#include <functional>
#include <thread>
#include <vector>

namespace pairhits {

class WorkCrew {
 public:
  // A crew of up to `members` (at least 1), the caller included.
  explicit WorkCrew(int members);
  ~WorkCrew();
  WorkCrew(const WorkCrew&) = delete;
  WorkCrew& operator=(const WorkCrew&) = delete;

  int size() const { return static_cast<int>(threads_.size()) + 1; }

  // Calls job(k) for every member k, the caller's own being job(0).
  void run(const std::function<void(int)>& job);

  // Within a job: returns once every member has called it.
  void sync() { meeting_.arrive_and_wait(); }

 private:
  void serve(int member);

  std::barrier<> meeting_;
  std::vector<std::thread> threads_;
  const std::function<void(int)>* job_ = nullptr;  // null: the crew is going
};

}  // namespace pairhits
