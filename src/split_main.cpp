// pairhits-split -n PARTS -o DIR TABLE...: splits hit tables into part
// tables by read name, for pairhits runs on each part whose reports
// pairhits-merge puts together again.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli.h"
#include "messages.h"
#include "part_split.h"
#include "report_writer.h"

namespace {

const char kUsage[] =
    "Usage: pairhits-split -n PARTS -o DIR TABLE...\n"
    "Split BLAST hit tables (as pairhits reads them: - is standard input, gzip\n"
    "and zstd are decompressed) into PARTS part tables DIR/part-NNNN.tsv by a\n"
    "hash of the read name, and write DIR/stats for pairhits-merge.\n"
    "PARTS is 1 to 4096; DIR is made if it does not exist.\n"
    "\n"
    "Full documentation: man pairhits-split\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace pairhits;
  const command_line c = parse_command_line(argc, argv, {"-n", "-o"});
  if (const int status = answer_without_running(c, "pairhits-split", kUsage, 1, 2); status >= 0) return status;
  int parts = 0;
  const char* dir = nullptr;
  for (const auto& [option, value] : c.values) {
    if (option == "-o") {
      dir = value;
    } else if (!parse_count(value, kMaxParts, parts)) {
      return usage_error(2, "PARTS must be a whole number from 1 to 4096", value);
    }
  }
  if (parts == 0 || dir == nullptr) return usage_error(2, "usage", "pairhits-split -n PARTS -o DIR TABLE...");
  OpenTables tables;
  if (const int status = open_tables(c.paths, tables, 2); status >= 0) return status;
  if (::mkdir(dir, 0755) != 0 && errno != EEXIST) {
    write_error_with_reason(2, (std::string("cannot make ") + dir).c_str(), std::strerror(errno));
    return 1;
  }
  return split_tables(tables.data(), tables.size(), dir, parts, 2);
}
