#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "progress.h"

namespace pairhits {
namespace {

TEST(Progress, SaysHowMuchIsReadAndHowLongTheRestTakes) {
  struct row {
    unsigned long long done, total;
    double seconds;
    std::string text;
  };
  const std::vector<row> rows = {
      {512, 0, 2, "pairhits: 512 B read"},                        // size unknown (a pipe)
      {15300000, 0, 2, "pairhits: 15.3 MB read"},
      {2000000000, 8000000000, 60, "pairhits: 2.0 GB of 8.0 GB (25%), about 3 min left"},
      {4000000000, 8000000000, 30, "pairhits: 4.0 GB of 8.0 GB (50%), about 30 s left"},
      {1000000000, 40000000000, 300, "pairhits: 1.0 GB of 40.0 GB (2%), about 3 h 15 min left"},
      {9000, 8000, 3, "pairhits: 9 kB read"},                     // more than the size said (a growing file)
  };
  for (const row& r : rows) {
    char text[160];
    const std::size_t n = format_progress(text, sizeof text, r.done, r.total, r.seconds);
    EXPECT_EQ(std::string(text, n), r.text);
  }
}

}  // namespace
}  // namespace pairhits
