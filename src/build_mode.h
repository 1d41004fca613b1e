// The plain build (-DPAIRHITS_PLAIN=ON) turns every fast path off: numbers go
// through strtod and snprintf, names are looked up one at a time, and the
// name filter and the memos are bypassed. It serves for debugging, and as a
// reference whose reports must equal the normal build's.
#pragma once

namespace pairhits {
#ifdef PAIRHITS_PLAIN
inline constexpr bool kPlainBuild = true;
#else
inline constexpr bool kPlainBuild = false;
#endif
}  // namespace pairhits
