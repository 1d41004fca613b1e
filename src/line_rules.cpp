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

int line_format::fields_needed() const {
  int largest = name;
  for (int k : {col3, col7, target}) largest = k > largest ? k : largest;
  return largest + 1;
}

bool name_by_mark(const line_format& format, std::string_view field, std::int32_t& mate, std::size_t& name_bytes) {
  const auto ends_in = [&](const std::string& mark) {
    return field.size() >= mark.size() && field.substr(field.size() - mark.size()) == mark;
  };
  if (format.rule == line_format::mates::at_end) {
    // Neither mark ends the other, so at most one ends the field.
    mate = ends_in(format.mark1) ? 1 : ends_in(format.mark2) ? 2 : 0;
    if (mate == 0) return false;
    name_bytes = field.size() - (mate == 1 ? format.mark1 : format.mark2).size();
    return name_bytes > 0;
  }
  mate = format.fixed_mate;
  const std::string& mark = mate == 1 ? format.mark1 : format.mark2;
  name_bytes = ends_in(mark) ? field.size() - mark.size() : field.size();
  return name_bytes > 0;
}

bool split_hit_line_plain(padded_view line, hit_fields& fields, std::int32_t& mate, bool terminate,
                          const line_format& format) {
  const char* text = line.data();
  const std::size_t length = line.size();
  const int needed = format.fields_needed();
  // The bounds of the fields the format reads, and of field 8.
  std::size_t starts[5] = {};
  std::size_t ends[5] = {};
  const int wanted[5] = {format.name, format.col3, format.col7, kField8, format.target};
  int count = 0;
  // Where the mate is not carried, an incomplete line leaves it at the
  // table's, or at none.
  if (format.rule != line_format::mates::anywhere) mate = format.fixed_mate_or_none();
  for (std::size_t i = 0; i < length && count < needed;) {
    while (i < length && text[i] == kFieldSeparator) ++i;
    if (i == length) break;
    const std::size_t start = i;
    while (i < length && text[i] != kFieldSeparator) ++i;
    for (int w = 0; w < 5; ++w) {
      if (wanted[w] == count) {
        starts[w] = start;
        ends[w] = i;
      }
    }
    // The name field moves the mate as soon as it is read.
    if (count == format.name && format.rule == line_format::mates::anywhere) {
      const std::string_view field(text + start, i - start);
      move_mate(mate, field.find("/1") != std::string_view::npos, field.find("/2") != std::string_view::npos);
    }
    ++count;
  }
  const std::string_view name_field(text + starts[0], ends[0] - starts[0]);
  const bool has_zero = std::memchr(text, '\0', length) != nullptr;
  std::size_t name_bytes = 0;
  bool marked = true;
  if (format.rule == line_format::mates::anywhere) {
    if (!is_complete(count, name_field.size(), has_zero, needed)) return false;
    name_bytes = name_field.size() - kMateSuffixBytes;
    marked = name_field.find("/1") != std::string_view::npos || name_field.find("/2") != std::string_view::npos;
  } else if (count < needed || has_zero || !name_by_mark(format, name_field, mate, name_bytes)) {
    return false;
  }
  const auto field = [&](int w) { return line.part(starts[w], ends[w] - starts[w]); };
  fields.name = line.part(starts[0], name_bytes);
  fields.col3 = field(1);
  fields.col7 = field(2);
  fields.field8 = count > kField8 ? field(3) : padded_view();
  fields.target = field(4);
  fields.marked = marked;
  if (terminate) {
    // Each field is followed by a TAB or by the line's own terminating zero;
    // a field read twice is ended where it ends.
    for (int w : {1, 2, 4}) line.data()[ends[w]] = '\0';
    line.data()[starts[0] + name_bytes] = '\0';
  }
  return true;
}

bool split_hit_line_plain(padded_view line, hit_fields& fields, std::int32_t& mate, bool terminate) {
  static const line_format kDefault;
  return split_hit_line_plain(line, fields, mate, terminate, kDefault);
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
