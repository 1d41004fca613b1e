#include "run_options.h"

#include <cstring>
#include <string>

#include "messages.h"
#include "program_limits.h"

namespace pairhits {

namespace {

// "Q,A,B,T" (1-based) or "std" into the format's fields.
bool parse_fields(const char* text, line_format& format) {
  if (std::strcmp(text, "std") == 0) text = kStdFields;
  int field[4];
  int count = 0;
  for (const char* p = text;; ++p) {
    const char* comma = std::strchr(p, ',');
    const std::string item = comma == nullptr ? std::string(p) : std::string(p, static_cast<std::size_t>(comma - p));
    if (count == 4 || !parse_count(item.c_str(), kMaxField, field[count])) return false;
    ++count;
    if (comma == nullptr) break;
    p = comma;
  }
  if (count != 4) return false;
  format.name = field[0] - 1;
  format.col3 = field[1] - 1;
  format.col7 = field[2] - 1;
  format.target = field[3] - 1;
  return true;
}

// "M1,M2": two marks, non-empty, different, and neither ending the other;
// no field can end in a TAB, CR or LF, so a mark that holds one is refused
// (the split would otherwise write it into a part's line).
bool parse_marks(const char* text, line_format& format) {
  const char* comma = std::strchr(text, ',');
  if (comma == nullptr || std::strchr(comma + 1, ',') != nullptr) return false;
  const std::string m1(text, static_cast<std::size_t>(comma - text));
  const std::string m2(comma + 1);
  const auto ends = [](const std::string& a, const std::string& b) {
    return a.size() >= b.size() && a.compare(a.size() - b.size(), b.size(), b) == 0;
  };
  if (m1.empty() || m2.empty() || ends(m1, m2) || ends(m2, m1)) return false;
  if (m1.find_first_of("\t\r\n") != std::string::npos || m2.find_first_of("\t\r\n") != std::string::npos) return false;
  format.mark1 = m1;
  format.mark2 = m2;
  return true;
}

}  // namespace

std::vector<std::string_view> valued_options(std::initializer_list<std::string_view> own) {
  std::vector<std::string_view> names = {"-f", "--fields", "-m", "--marks", "-1", "-2"};
  names.insert(names.end(), own.begin(), own.end());
  return names;
}

line_format run_options::format_of(std::size_t k) const {
  line_format f = format;
  if (mates[k] != 0) {
    f.rule = line_format::mates::by_table;
    f.fixed_mate = mates[k];
  }
  return f;
}

std::vector<line_format> run_options::formats() const {
  std::vector<line_format> all;
  for (std::size_t k = 0; k < paths.size(); ++k) all.push_back(format_of(k));
  return all;
}

int parse_run_options(const command_line& c, run_options& options, int err_fd) {
  line_format& format = options.format;
  bool marks = false;
  for (const auto& [option, value] : c.values) {
    if (option == "-f" || option == "--fields") {
      if (!parse_fields(value, format)) return usage_error(err_fd, fields_fault_text().c_str(), value);
      format.check_columns = false;
    } else if (option == "-m" || option == "--marks") {
      if (!parse_marks(value, format)) return usage_error(err_fd, kMarksFaultText, value);
      marks = true;
      format.check_columns = false;
    } else if (option == "-1" || option == "-2") {
      options.paths.push_back(value);
      options.mates.push_back(option == "-1" ? 1 : 2);
    } else {
      continue;  // the program's own
    }
    format.check_header = true;
  }
  if (format.name == format.col3 || format.name == format.col7 || format.name == format.target) {
    return usage_error(err_fd, kNameFieldFaultText, std::to_string(format.name + 1).c_str());
  }
  if (!options.paths.empty() && !c.paths.empty()) return usage_error(err_fd, kMixedTablesText, c.paths.front());
  if (options.paths.empty()) {
    options.paths = c.paths;
    options.mates.assign(c.paths.size(), 0);
  }
  int stdin_count = 0;
  for (const char* p : options.paths) stdin_count += std::strcmp(p, "-") == 0;
  if (options.by_table() && stdin_count > 1) return usage_error(err_fd, kStdinTwiceText, "-");
  if (marks && !options.by_table()) format.rule = line_format::mates::at_end;
  return -1;
}

}  // namespace pairhits
