// pairhits-merge [--stats FILE]... REPORT...: the reports of pairhits runs
// on the parts of a split, merged into the report of one run, and the
// messages that one run would have given, from the splits' stats files.
#include <string>
#include <vector>

#include "messages.h"
#include "report_merge.h"
#include "report_writer.h"
#include "split_stats.h"

namespace {

const char kUsage[] =
    "Usage: pairhits-merge [--stats FILE]... REPORT...\n"
    "Merge the reports of pairhits runs on the parts made by pairhits-split\n"
    "into the report of one run, in byte-wise order of read names. With the\n"
    "splits' stats files (in the order of their tables), also give the\n"
    "messages of one run over all the tables on standard error.\n"
    "\n"
    "Full documentation: man pairhits-split\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace pairhits;
  std::vector<split_stats> splits;
  std::vector<std::string> reports;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options || arg == "-" || arg[0] != '-') {
      reports.push_back(arg);
    } else if (arg == "--") {
      options = false;
    } else if (arg == "-h" || arg == "--help") {
      return write_message(1, kUsage) ? 0 : 1;
    } else if (arg == "--stats" && i + 1 < argc) {
      splits.emplace_back();
      if (!read_split_stats(argv[++i], splits.back())) {
        write_error_with_reason(2, "not a stats file of pairhits-split", argv[i]);
        return 1;
      }
    } else {
      write_error_with_reason(2, "unknown option (see pairhits-merge --help)", argv[i]);
      return 2;
    }
  }
  if (!splits.empty()) {
    const split_stats all = combine_split_stats(splits);
    std::vector<const char*> names;
    for (const std::string& t : all.tables) names.push_back(t.c_str());
    if (all.counts.skipped > 0) write_skip_warning(2, all.counts, names.size() > 1 ? names.data() : nullptr);
    write_load_warnings(2, all.counts);
  }
  return merge_reports(reports, 1, 2);
}
