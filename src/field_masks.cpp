#include "field_masks.h"

namespace pairhits {

#if PAIRHITS_WIDE_MASKS
namespace {
bool has_wide_masks() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt");
}
}  // namespace

bool wide_masks_in_use = has_wide_masks();

bool use_wide_masks(bool allowed) {
  wide_masks_in_use = allowed && has_wide_masks();
  return wide_masks_in_use;
}
#else
bool use_wide_masks(bool) { return false; }
#endif

}  // namespace pairhits
