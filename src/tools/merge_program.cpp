// pairhits-merge: the reports of pairhits runs on the parts of a split,
// merged into the report of one run, and the messages that one run would
// have given, from the splits' stats files.
#include <string>
#include <vector>

#include "cli.h"
#include "messages.h"
#include "programs.h"
#include "report_merge.h"
#include "split_stats.h"

namespace pairhits {

int pairhits_merge_main(int argc, const char* const* argv, int out_fd, int err_fd) {
  const command_line c = parse_command_line(argc, argv, {"--stats"});
  if (const int status = answer_without_running(c, "pairhits-merge", merge_usage_text(), out_fd, err_fd);
      status >= 0) {
    return status;
  }
  std::vector<split_stats> splits;
  for (const auto& option : c.values) {
    splits.emplace_back();
    if (!read_split_stats(option.second, splits.back())) {
      write_error_with_reason(err_fd, kNoStatsFileText, option.second);
      return 1;
    }
  }
  // Every report of the parts, and no other: as many as the splits made
  // parts, when their stats say so.
  for (std::size_t k = 0; k < splits.size(); ++k) {
    if (splits[k].parts != splits[0].parts) {
      write_error_with_reason(err_fd, kPartsDifferText, c.values[k].second);
      return 1;
    }
  }
  if (!splits.empty() && splits[0].parts != 0 && c.paths.size() != static_cast<std::size_t>(splits[0].parts)) {
    write_error(err_fd, report_count_text(splits[0].parts, c.paths.size(), c.values[0].second));
    return 1;
  }
  if (!splits.empty()) write_split_messages(err_fd, combine_split_stats(splits));
  return merge_reports(std::vector<std::string>(c.paths.begin(), c.paths.end()), out_fd, err_fd);
}

}  // namespace pairhits
