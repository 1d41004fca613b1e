// The limits of the programs' options, named once: the parsers check them
// and the messages and usage texts print them.
#pragma once

namespace pairhits {

inline constexpr int kMaxParts = 4096;  // parts of a split
inline constexpr int kMaxJobs = 1024;   // pairhits runs at once in pairhits-partitioned
inline constexpr int kMaxField = 4096;  // the highest field --fields may name

}  // namespace pairhits
