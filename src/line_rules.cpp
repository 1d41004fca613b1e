#include "line_rules.h"

#include <cstring>
#include <string_view>

namespace pairhits {

namespace {
bool all_digits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return !text.empty();
}
}  // namespace

bool split_hit_line_plain(padded_view line, hit_fields& fields, std::int32_t& mate, bool terminate) {
  const char* text = line.data();
  const std::size_t length = line.size();
  std::size_t starts[kFieldsNeeded];
  std::size_t ends[kFieldsNeeded];
  int count = 0;
  for (std::size_t i = 0; i < length && count < kFieldsNeeded;) {
    while (i < length && text[i] == kFieldSeparator) ++i;
    if (i == length) break;
    starts[count] = i;
    while (i < length && text[i] != kFieldSeparator) ++i;
    ends[count++] = i;
  }
  if (count == 0) return false;
  const std::string_view field1(text + starts[kNameField], ends[kNameField] - starts[kNameField]);
  const bool one = field1.find("/1") != std::string_view::npos;
  const bool two = field1.find("/2") != std::string_view::npos;
  move_mate(mate, one, two);
  if (!is_complete(count, field1.size(), std::memchr(text, '\0', length) != nullptr)) return false;
  const auto field = [&](int k) { return line.part(starts[k], ends[k] - starts[k]); };
  fields.name = line.part(starts[kNameField], field1.size() - kMateSuffixBytes);
  fields.col3 = field(kCol3Field);
  fields.col7 = field(kCol7Field);
  fields.field8 = field(kField8);
  fields.target = field(kTargetField);
  fields.marked = one || two;
  if (terminate) {
    // Each field is followed by a TAB or by the line's own terminating zero.
    for (int k : {kCol3Field, kCol7Field, kTargetField}) line.data()[ends[k]] = '\0';
    line.data()[ends[kNameField] - kMateSuffixBytes] = '\0';
  }
  return true;
}

bool has_default_outfmt6_shape(padded_view line, const hit_fields& fields) {
  if (!all_digits(fields.col7.text()) || !all_digits(fields.field8.text()) || !all_digits(fields.target.text())) {
    return false;
  }
  // Fields 10 to 12 follow field 9's end (a TAB, or a zero the splitter wrote over it).
  const char* p = fields.target.data() + fields.target.size() + 1;
  const char* end = line.data() + line.size();
  int more = 0;
  bool field10_whole = false;
  while (p < end) {
    while (p < end && *p == kFieldSeparator) ++p;
    const char* start = p;
    while (p < end && *p != kFieldSeparator) ++p;
    if (p == start) break;
    if (++more == 1) field10_whole = all_digits(std::string_view(start, static_cast<std::size_t>(p - start)));
  }
  return more == 3 && field10_whole;
}

}  // namespace pairhits
