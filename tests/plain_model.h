// Pieces of the plain models that the run tests check pairhits against:
// the rules written as plainly as possible.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pairhits {

// The fields of a line as the plain models read them: maximal runs of
// bytes other than TAB.
inline std::vector<std::string> tab_fields(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  for (char c : line + "\t") {
    if (c != '\t') {
      field += c;
    } else if (!field.empty()) {
      fields.push_back(field);
      field.clear();
    }
  }
  return fields;
}

// A hit a model keeps for one mate of one read.
struct model_hit {
  std::string target;
  double col3;
  double col7;
};

// Per read name, the kept hits of mate 1 and of mate 2, in first-seen order.
using model_reads = std::map<std::string, std::pair<std::vector<model_hit>, std::vector<model_hit>>>;

// The report: names in byte-wise order, one line per target both mates hit.
inline std::string model_report(const model_reads& reads) {
  std::string out;
  for (const auto& [name, lists] : reads) {
    for (const model_hit& a : lists.first) {
      for (const model_hit& b : lists.second) {
        if (a.target != b.target) continue;
        char numbers[200];
        std::snprintf(numbers, sizeof numbers, "\t%g,%g\t%g,%g\t", a.col3, b.col3, a.col7, b.col7);
        out += name + numbers + a.target + "\n";
      }
    }
  }
  return out;
}

}  // namespace pairhits
