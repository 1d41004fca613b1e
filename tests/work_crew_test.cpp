// The work crew: every member runs each step once, and what one member
// wrote before a meeting, every member sees after it (ThreadSanitizer
// checks the second in CI).
#include <gtest/gtest.h>

#include <vector>

#include "work_crew.h"

namespace pairhits {
namespace {

TEST(WorkCrew, EveryMemberTakesEachStepAndSeesTheOthersAfterAMeeting) {
  for (const int members : {1, 2, 5}) {
    WorkCrew crew(members);
    ASSERT_EQ(crew.size(), members);
    std::vector<long> written(static_cast<std::size_t>(members), 0);
    std::vector<long> seen(static_cast<std::size_t>(members), 0);
    for (int step = 1; step <= 50; ++step) {
      crew.run([&](int k) {
        written[static_cast<std::size_t>(k)] += step;
        crew.sync();
        long sum = 0;
        for (long w : written) sum += w;
        seen[static_cast<std::size_t>(k)] = sum;
      });
      const long expected = static_cast<long>(members) * step * (step + 1) / 2;
      for (long s : seen) ASSERT_EQ(s, expected) << members << " members, step " << step;
    }
  }
}

}  // namespace
}  // namespace pairhits
