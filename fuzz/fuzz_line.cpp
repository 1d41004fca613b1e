// libFuzzer harness: the input as LF-ended lines, which the splitter's fast
// ways (both mask widths, one line and many at once) must split as the
// plain rule does. The first byte sets the mate the first line starts with
// (0, 1 or 2); when it is 3 or more, it and the second choose another line
// format (other fields and mate rules), which only split_hit_line reads.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string_view>

#include "line_agreement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);
  const pairhits::line_format format =
      data[0] < 3 ? pairhits::line_format() : pairhits::format_of_bytes(data[0] * 7u, data[1] * 13u);
  const std::string found = pairhits::line_disagreement(text, data[0] % 3, format);
  if (!found.empty()) {
    std::fprintf(stderr, "%s\n", found.c_str());
    std::abort();
  }
  return 0;
}
