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

int usage_error(const char* text, const char* what) {
  pairhits::write_error_with_reason(2, text, what);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pairhits;
  int parts = 0;
  const char* dir = nullptr;
  std::vector<const char*> paths;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options || arg == "-" || arg[0] != '-') {
      paths.push_back(argv[i]);
    } else if (arg == "--") {
      options = false;
    } else if (arg == "-h" || arg == "--help") {
      return write_message(1, kUsage) ? 0 : 1;
    } else if (arg == "-V" || arg == "--version") {
      return write_message(1, "pairhits-split " PAIRHITS_VERSION "\n") ? 0 : 1;
    } else if ((arg == "-n" || arg == "-o") && i + 1 >= argc) {
      return usage_error("option needs a value", argv[i]);
    } else if (arg == "-n") {
      if (!parse_count(argv[++i], kMaxParts, parts)) return usage_error("PARTS must be a whole number from 1 to 4096", argv[i]);
    } else if (arg == "-o") {
      dir = argv[++i];
    } else {
      return usage_error("unknown option (see pairhits-split --help)", argv[i]);
    }
  }
  if (parts == 0 || dir == nullptr) return usage_error("usage", "pairhits-split -n PARTS -o DIR TABLE...");
  if (paths.empty()) return not_found(2, nullptr);
  OpenTables tables;
  for (const char* path : paths) {
    if (!tables.open(path)) return not_found(2, paths.size() > 1 ? path : nullptr);
  }
  if (::mkdir(dir, 0755) != 0 && errno != EEXIST) {
    write_error_with_reason(2, (std::string("cannot make ") + dir).c_str(), std::strerror(errno));
    return 1;
  }
  return split_tables(tables.data(), tables.size(), dir, parts, 2);
}
