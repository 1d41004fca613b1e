// pairhits-merge [--stats FILE]... REPORT...: the reports of pairhits runs
// on the parts of a split, merged into the report of one run, and the
// messages that one run would have given, from the splits' stats files.
#include <string>
#include <vector>

#include "cli.h"
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
  const command_line c = parse_command_line(argc, argv, {"--stats"});
  if (const int status = answer_without_running(c, "pairhits-merge", kUsage, 1, 2); status >= 0) return status;
  std::vector<split_stats> splits;
  for (const auto& option : c.values) {
    splits.emplace_back();
    if (!read_split_stats(option.second, splits.back())) {
      write_error_with_reason(2, "not a stats file of pairhits-split", option.second);
      return 1;
    }
  }
  if (!splits.empty()) {
    const split_stats all = combine_split_stats(splits);
    std::vector<const char*> names;
    for (const std::string& t : all.tables) names.push_back(t.c_str());
    if (all.counts.skipped > 0) write_skip_warning(2, all.counts, names.size() > 1 ? names.data() : nullptr);
    write_load_warnings(2, all.counts);
  }
  return merge_reports(std::vector<std::string>(c.paths.begin(), c.paths.end()), 1, 2);
}
