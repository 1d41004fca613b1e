#include "fields_header.h"

#include <array>
#include <vector>

#include "line_rules.h"

namespace pairhits {

namespace {

constexpr std::string_view kHeaderStart = "# Fields: ";

// What a column named by BLAST holds, as far as a run cares.
enum class kind { unknown, query, value, target, position, other };

struct named_kind {
  std::string_view name;
  kind what;
};

// BLAST's names for its tabular columns (blastn -help, -outfmt).
constexpr std::array<named_kind, 49> kColumns = {{
    {"query id", kind::query}, {"query gi", kind::query}, {"query acc.", kind::query},
    {"query acc.ver", kind::query}, {"subject id", kind::target}, {"subject ids", kind::target},
    {"subject gi", kind::target}, {"subject gis", kind::target}, {"subject acc.", kind::target},
    {"subject acc.ver", kind::target}, {"subject accs.", kind::target}, {"subject tax id", kind::target},
    {"subject tax ids", kind::target}, {"subject sci name", kind::target}, {"subject sci names", kind::target},
    {"subject com names", kind::target}, {"subject blast name", kind::target},
    {"subject blast names", kind::target}, {"subject super kingdom", kind::target},
    {"subject super kingdoms", kind::target}, {"subject title", kind::target}, {"subject titles", kind::target},
    {"query length", kind::value}, {"subject length", kind::value}, {"evalue", kind::value},
    {"bit score", kind::value}, {"score", kind::value}, {"alignment length", kind::value},
    {"% identity", kind::value}, {"identical", kind::value}, {"mismatches", kind::value},
    {"positives", kind::value}, {"gap opens", kind::value}, {"gaps", kind::value}, {"% positives", kind::value},
    {"query frame", kind::value}, {"sbjct frame", kind::value}, {"% query coverage per subject", kind::value},
    {"% query coverage per hsp", kind::value}, {"% query coverage per uniq subject", kind::value},
    {"q. start", kind::position}, {"q. end", kind::position}, {"s. start", kind::position},
    {"s. end", kind::position}, {"query seq", kind::other}, {"subject seq", kind::other},
    {"query/sbjct frames", kind::other}, {"BTOP", kind::other}, {"subject strand", kind::other},
}};

kind kind_of(std::string_view column) {
  for (const named_kind& c : kColumns) {
    if (c.name == column) return c.what;
  }
  return kind::unknown;
}

std::vector<std::string_view> columns_of(std::string_view header) {
  std::vector<std::string_view> columns;
  std::string_view rest = header.substr(kHeaderStart.size());
  while (!rest.empty()) {
    const std::size_t comma = rest.find(", ");
    columns.push_back(rest.substr(0, comma));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 2);
  }
  return columns;
}

// The first column named `name`, or of kind `wanted` when `name` is empty; -1 if none.
int find_column(const std::vector<std::string_view>& columns, kind wanted, std::string_view name = {}) {
  for (std::size_t k = 0; k < columns.size(); ++k) {
    if (name.empty() ? kind_of(columns[k]) == wanted : columns[k] == name) return static_cast<int>(k);
  }
  return -1;
}

}  // namespace

bool is_fields_header(std::string_view line) { return line.substr(0, kHeaderStart.size()) == kHeaderStart; }

header_check check_fields_header(std::string_view header, const int (&fields)[4]) {
  const std::vector<std::string_view> columns = columns_of(header);
  struct wanted_field {
    kind wanted;
    std::string_view read_as;
    std::string_view best;  // the column to read instead, by name; empty: the first of `wanted`
  };
  static constexpr wanted_field kWanted[4] = {{kind::query, "the read name", ""},
                                              {kind::value, "a value", "% identity"},
                                              {kind::value, "a value", "evalue"},
                                              {kind::target, "the target", ""}};
  header_check check;
  int fixed[4];
  bool all_fixed = true;
  for (int k = 0; k < 4; ++k) {
    const wanted_field& w = kWanted[k];
    const auto field = static_cast<std::size_t>(fields[k]);
    const std::string_view column = field < columns.size() ? columns[field] : std::string_view();
    fixed[k] = fields[k];
    const kind found = kind_of(column);
    if (!column.empty() && (found == kind::unknown || found == w.wanted)) continue;
    // The same field for both values is one fault.
    if (!(k == 2 && fields[2] == fields[1])) check.faults.push_back({fields[k] + 1, column, w.read_as});
    fixed[k] = find_column(columns, w.wanted, w.best);
    if (fixed[k] < 0) fixed[k] = find_column(columns, w.wanted);
    all_fixed = all_fixed && fixed[k] >= 0;
  }
  if (check.faults.empty() || !all_fixed) return check;
  for (int k = 0; k < 4; ++k) {
    if (k > 0) check.fields += ',';
    check.fields += std::to_string(fixed[k] + 1);
  }
  if (check.fields == kStdFields) check.fields = "std";
  return check;
}

}  // namespace pairhits
