// The "# Fields:" header check: which fields read it finds of another kind,
// and the --fields it proposes, on the headers BLAST writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fields_header.h"
#include "messages.h"

namespace pairhits {
namespace {

constexpr char kStd[] =
    "# Fields: query acc.ver, subject acc.ver, % identity, alignment length, mismatches, gap opens, q. start, "
    "q. end, s. start, s. end, evalue, bit score";
constexpr char kNine[] =
    "# Fields: query acc.ver, subject acc.ver, % identity, alignment length, mismatches, gap opens, evalue, "
    "bit score, subject tax ids";

struct fields {
  int from0[4];
  fields(int q, int a, int b, int t) : from0{q - 1, a - 1, b - 1, t - 1} {}
};

TEST(FieldsHeader, NamesTheFieldsOfAnotherKindAndTheFieldsToGive) {
  const std::string start = "ERROR: by the table's \"# Fields:\" line, ";
  struct row {
    const char* header;
    fields read;
    std::string warning;  // without its start
  };
  const std::vector<row> rows = {
      {kStd, fields(1, 3, 11, 2), ""},
      {kNine, fields(1, 3, 7, 9), ""},
      {kStd, fields(1, 3, 7, 9),
       "field 7 (\"q. start\") is not a value and field 9 (\"s. start\") is not the target; give --fields std\n"},
      {kNine, fields(1, 3, 11, 2), "field 11 is not there; give --fields 1,3,7,2\n"},
      {kStd, fields(2, 3, 11, 1),
       "field 2 (\"subject acc.ver\") is not the read name and field 1 (\"query acc.ver\") is not the target; "
       "give --fields std\n"},
      {kStd, fields(1, 9, 9, 2), "field 9 (\"s. start\") is not a value; give --fields std\n"},  // one fault, once
      {kStd, fields(1, 4, 12, 2), ""},  // other numbers are values too
      {"# Fields: subject id, evalue, % identity, score", fields(1, 2, 3, 4),
       "field 1 (\"subject id\") is not the read name and field 4 (\"score\") is not the target; give --fields "
       "with the fields of the read name, the two values and the target\n"},
      {"# Fields: qseqid, sseqid, pident, x, y, z, qstart, a, sstart", fields(1, 3, 7, 9), ""},  // names it does not know
  };
  for (const row& r : rows) {
    const header_check check = check_fields_header(r.header, r.read.from0);
    EXPECT_EQ(check.faults.empty() ? "" : fields_header_text(check), r.warning.empty() ? "" : start + r.warning)
        << r.header;
  }
  EXPECT_TRUE(is_fields_header(kStd));
  EXPECT_FALSE(is_fields_header("# Query: r1/1"));
  EXPECT_FALSE(is_fields_header("#Fields: query id"));
}

}  // namespace
}  // namespace pairhits
