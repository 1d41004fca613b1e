// The limits of the programs' options, named once: the parsers check them
// and the messages and usage texts print them.
#pragma once

namespace pairhits {

inline constexpr int kMaxParts = 4096;  // parts of a split
inline constexpr int kMaxJobs = 1024;   // pairhits runs at once in pairhits-partitioned
inline constexpr int kMaxField = 4096;  // the highest field --fields may name
inline constexpr int kMaxThreads = 1024;  // threads of one pairhits run
// The default thread count is the processors the run may use, up to this:
// past it a run's share on one thread (the reading, the report's merge)
// leaves little to gain, and each thread's buffers cost memory.
inline constexpr int kDefaultThreadsCap = 64;

}  // namespace pairhits
