// libFuzzer harness: the input as LF-ended lines, which the splitter's fast
// ways (both mask widths, one line and many at once) must split as the
// plain rule does. The first byte, when there is one, sets the mate the
// first line starts with (0, 1 or 2).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string_view>

#include "line_agreement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string found = pairhits::line_disagreement(text, data[0] % 3);
  if (!found.empty()) {
    std::fprintf(stderr, "%s\n", found.c_str());
    std::abort();
  }
  return 0;
}
