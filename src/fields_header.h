// The header that BLAST's commented tabular output (-outfmt 7) writes before
// each query's hits, "# Fields: query acc.ver, subject acc.ver, % identity,
// ...": checked against the fields a run reads, so that a table whose
// columns are not where the options say is told apart from one that simply
// pairs nothing. The warning's text is in messages.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pairhits {

// Whether `line` is such a header.
bool is_fields_header(std::string_view line);

// A field read that the header names as of another kind: its number from
// 1, the header's name for it (empty: past the header's last column), and
// what the run reads it as ("a value").
struct header_fault {
  int field;
  std::string_view column;
  std::string_view read_as;
};

struct header_check {
  std::vector<header_fault> faults;  // none when the header agrees
  std::string fields;                // the --fields to give, or empty when the header has no columns for it
};

// Checks `fields` (the name's, the two values', the target's, from 0)
// against a header line: the name should be a query column, the values
// numbers (not positions or names), the target a subject column. Columns
// that BLAST does not name are not judged. The faults' names point into
// `header`.
header_check check_fields_header(std::string_view header, const int (&fields)[4]);

}  // namespace pairhits
