// The header that BLAST's commented tabular output (-outfmt 7) writes before
// each query's hits, "# Fields: query acc.ver, subject acc.ver, % identity,
// ...": checked against the fields a run reads, so that a table whose
// columns are not where the options say is told apart from one that simply
// pairs nothing.
#pragma once

#include <string>
#include <string_view>

#include "line_rules.h"

namespace pairhits {

// Whether `line` is such a header.
bool is_fields_header(std::string_view line);

// For a header line: the warning when a field that `format` reads is known
// to be of another kind (the name not the query, a value that is a position
// or a name, the target not the subject) or is not there, with the
// --fields to give when the header has the columns for it; empty when the
// header agrees or knows none of the columns read.
std::string fields_header_warning(std::string_view header, const line_format& format);

}  // namespace pairhits
