// Holds the splitter's fast ways to the plain rule: for every line, with
// the narrow and the wide masks, split_hit_line, check_hit_line and
// scan_lines must give split_hit_line_plain's verdict, mate and fields (for
// another line_format, split_hit_line alone).
// Shared by the unit tests and the fuzz harness.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "build_mode.h"
#include "field_masks.h"
#include "hit_splitter.h"
#include "line_scan.h"
#include "line_rules.h"

namespace pairhits {

// A line format chosen by two bytes: four fields among the first 12 (the
// name's apart from the others), and how lines tell their mate.
inline line_format format_of_bytes(unsigned a, unsigned b) {
  line_format f;
  f.name = static_cast<int>(a % 12);
  f.col3 = (f.name + 1 + static_cast<int>(a / 12 % 11)) % 12;
  f.col7 = (f.name + 1 + static_cast<int>(b % 11)) % 12;
  f.target = (f.name + 1 + static_cast<int>(b / 11 % 11)) % 12;
  static const char* const kMarks[][2] = {{"/1", "/2"}, {".1", ".2"}, {"1", "2"}, {"/f", "/rev"}};
  f.mark1 = kMarks[b / 121 % 4][0];
  f.mark2 = kMarks[b / 121 % 4][1];
  const unsigned rule = a / 132 % 4;
  f.rule = rule == 0 ? line_format::mates::anywhere : rule == 1 ? line_format::mates::at_end : line_format::mates::by_table;
  f.fixed_mate = rule == 3 ? 2 : 1;
  return f;
}

// The first disagreement for `text`, taken as LF-ended lines (a last line
// without one gets one; CR bytes are turned into 'r', as scan_lines is
// given no CR), the first starting with the mate `mate`; empty when all agree.
inline std::string line_disagreement_with_masks(std::string_view text, std::int32_t mate, const line_format& format) {
  const bool by_default = format.is_default();
  std::string lines(text);
  for (char& c : lines) c = c == '\r' ? 'r' : c;
  if (!lines.empty() && lines.back() != '\n') lines += '\n';
  const auto same = [](padded_view a, padded_view b) { return a.text() == b.text(); };
  for (const bool wide : {false, true}) {
    use_wide_masks(wide);
    const std::string how = wide ? " (wide masks)" : " (narrow masks)";
    std::int32_t plain_mate = mate;
    std::int32_t scan_mate = mate;
    padded_text all(lines);
    std::vector<scanned_line> scanned(7);
    std::size_t scanned_count = 0;
    std::size_t next = 0;
    for (std::size_t start = 0; start < lines.size();) {
      const std::size_t end = lines.find('\n', start);
      const std::string line = lines.substr(start, end - start);
      const std::string where = "line '" + line + "'" + how;
      hit_fields plain;
      padded_text plain_text(line);
      const std::int32_t mate_before = plain_mate;
      const bool complete = split_hit_line_plain(plain_text.view(), plain, plain_mate, false, format);

      hit_fields fast;
      padded_text fast_text(line);
      std::int32_t fast_mate = mate_before;
      if (split_hit_line(fast_text.view(), fast, fast_mate, format, false) != complete) return "split verdict: " + where;
      if (fast_mate != plain_mate) return "split mate: " + where;
      if (complete && (!same(fast.name, plain.name) || !same(fast.col3, plain.col3) ||
                       !same(fast.col7, plain.col7) || !same(fast.field8, plain.field8) ||
                       !same(fast.target, plain.target) || fast.marked != plain.marked)) {
        return "split fields: " + where;
      }
      // Terminated, both write the same zero bytes.
      padded_text a(line);
      padded_text b(line);
      std::int32_t ma = mate_before;
      std::int32_t mb = mate_before;
      hit_fields fa;
      hit_fields fb;
      split_hit_line_plain(a.view(), fa, ma, true, format);
      split_hit_line(b.view(), fb, mb, format, true);
      if (a.view().text() != b.view().text()) return "split's zero bytes: " + where;
      if (!by_default) {  // check_hit_line and scan_lines read the default format only
        start = end + 1;
        continue;
      }

      hit_fields checked;
      std::int32_t check_mate = mate_before;
      if (check_hit_line(fast_text.view(), checked, check_mate) != complete) return "check verdict: " + where;
      if (check_mate != plain_mate) return "check mate: " + where;
      if (complete && (!same(checked.name, plain.name) || checked.marked != plain.marked)) return "check name: " + where;

      // scan_lines, a few lines per call, over the whole text.
      if (next == scanned_count) {
        std::size_t consumed = 0;
        scanned_count = scan_lines(all.view().part(start, lines.size() - start), scan_mate, scanned.data(),
                                   scanned.size(), consumed, true);
        if (scanned_count == 0) return "scan found no line: " + where;
        for (scanned_line& s : scanned) {
          s.start += start;
          s.name_start += start;
        }
        next = 0;
      }
      const scanned_line& s = scanned[next++];
      if (s.start != start || s.size != line.size()) return "scan's line bounds: " + where;
      if (s.complete != complete || s.mate != plain_mate) return "scan verdict or mate: " + where;
      if (complete && (lines.substr(s.name_start, s.name_size) != plain.name.text() || s.marked != plain.marked)) {
        return "scan name: " + where;
      }
      // Located values are the plain rule's fields; a line of one block is
      // always located (but in the plain build, which locates none).
      const value_offsets& v = s.values;
      const auto offset = [&](padded_view field) { return field.data() - plain_text.view().data(); };
      const auto is_at = [&](padded_view field, int from, int to) {
        return offset(field) == from && offset(field) + static_cast<std::ptrdiff_t>(field.size()) == to;
      };
      if (complete && v.located() &&
          !(is_at(plain.col3, v.col3_start, v.col3_end) && is_at(plain.col7, v.col7_start, v.col7_end) &&
            is_at(plain.target, v.target_start, v.target_end))) {
        return "scan's values: " + where;
      }
      const bool must_locate = complete && !kPlainBuild && line.size() < kBlock;
      if ((v.located() && !complete) || (must_locate && !v.located())) {
        return "scan's values located or not: " + where;
      }
      start = end + 1;
    }
  }
  return "";
}

inline std::string line_disagreement(std::string_view text, std::int32_t mate = 0,
                                     const line_format& format = line_format()) {
  std::string found = line_disagreement_with_masks(text, mate, format);
  use_wide_masks(true);
  return found;
}

}  // namespace pairhits
