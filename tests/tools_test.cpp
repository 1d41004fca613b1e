// The units of the tools for tables larger than memory, fed bytes in
// process: the part files, the stats file and its combination, the merge
// of part reports.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "messages.h"
#include "test_files.h"
#include "tools/part_files.h"
#include "tools/report_merge.h"
#include "tools/split_layout.h"
#include "tools/split_stats.h"

namespace pairhits {
namespace {

using namespace std::string_literals;

// Lines put into parts come out in each part's file in the order put, also
// across many stages and buffers, with small stages (4096 parts) and long lines.
TEST(PartFiles, EachPartHoldsItsLinesInOrder) {
  for (const int parts : {1, 3, 4096}) {
    SCOPED_TRACE("parts " + std::to_string(parts));
    TempDir dir;
    std::vector<std::string> expected(static_cast<std::size_t>(parts));
    {
      PartFiles files(dir.path(), parts, 1 << 20);
      ASSERT_TRUE(files.create()) << files.error();
      std::mt19937 random(static_cast<unsigned>(parts));
      const int lines = parts == 4096 ? 20000 : 60000;
      for (int k = 0; k < lines; ++k) {
        const int p = static_cast<int>(random() % static_cast<unsigned>(parts));
        const std::size_t length = k % 997 == 0 ? 5000 + random() % 300000 : random() % 150;
        std::string line(length, static_cast<char>('a' + k % 26));
        line += std::to_string(k);
        padded_text text(line + "\n");
        ASSERT_TRUE(files.put_line(p, text.view().part(0, line.size())));
        expected[static_cast<std::size_t>(p)] += line + "\n";
        if (k % 1000 == 0) {
          const std::string mate = mate_line(1 + k % 2, line_format()) + "\n";
          ASSERT_TRUE(files.put(p, mate.data(), mate.size()));
          expected[static_cast<std::size_t>(p)] += mate;
        }
      }
      ASSERT_TRUE(files.finish()) << files.error();
    }
    for (int p = 0; p < parts; ++p) {
      ASSERT_EQ(read_file(part_path(dir.path(), p)), expected[static_cast<std::size_t>(p)]) << "part " << p;
    }
  }
}

TEST(PartFiles, FolderThatCannotTakeThePartsIsNamed) {
  PartFiles files("/nonexistent/folder", 2);
  EXPECT_FALSE(files.create());
  EXPECT_EQ(files.error(), "problem writing /nonexistent/folder/part-0000.tsv: No such file or directory");
}

TEST(SplitLayout, PathsAndMateLines) {
  EXPECT_EQ(part_path("d", 7), "d/part-0007.tsv");
  EXPECT_EQ(part_path("d", 4095, ".out"), "d/part-4095.out");
  EXPECT_EQ(stats_path("d"), "d/stats");
  const std::vector<std::pair<std::string, bool>> tables = {
      {"", false}, {"#/1\n", false}, {"#/1\n#/2\n", false}, {"#/2\nr/1\tx\n", true}, {"r/1\tx\n", true},
      {"#/1\n\n", true},  // an empty line is not one the split writes: run pairhits and let it say
  };
  for (const auto& [text, holds] : tables) EXPECT_EQ(holds_hit_line(text.data(), text.size()), holds) << text;
}

split_stats sample_stats() {
  split_stats s;
  s.tables = {"plain.tsv", "with space\nand newline", "-"};
  load_stats& c = s.counts;
  c.skipped = 3;
  c.first_skipped = 17;
  c.first_skipped_table = 1;
  c.complete = 1000;
  c.marked = 900;
  c.mate1 = 400;
  c.mate2 = 500;
  c.unmated = 100;
  c.default_columns = false;
  s.parts = 4;
  c.check_header = true;
  c.fields_read[1] = 10;
  c.fields_read[3] = 4095;
  c.fields_header = "# Fields: a, b\n, c";
  s.last_mate = 2;
  return s;
}

TEST(SplitStats, WrittenStatsReadBackTheSame) {
  TempDir dir;
  const std::string path = stats_path(dir.path());
  const split_stats s = sample_stats();
  ASSERT_TRUE(write_split_stats(path.c_str(), s));
  split_stats back;
  ASSERT_TRUE(read_split_stats(path.c_str(), back));
  EXPECT_EQ(back.tables, s.tables);
  EXPECT_EQ(back.last_mate, 2);
  const load_stats& c = back.counts;
  EXPECT_EQ(std::vector<unsigned long long>({c.skipped, c.first_skipped, c.complete, c.marked, c.mate1, c.mate2,
                                             c.unmated}),
            std::vector<unsigned long long>({3, 17, 1000, 900, 400, 500, 100}));
  EXPECT_EQ(c.first_skipped_table, 1);
  EXPECT_FALSE(c.default_columns);
  EXPECT_EQ(back.parts, 4);
  EXPECT_TRUE(c.check_header);
  EXPECT_EQ(std::vector<int>(c.fields_read, c.fields_read + 4), std::vector<int>({0, 10, 0, 4095}));
  EXPECT_EQ(c.fields_header, s.counts.fields_header);
  // A stats file of the version before the header check reads as having seen none.
  const std::string text = read_file(path);
  write_file(path, "pairhits-split-stats 1" + text.substr(text.find('\n'), text.rfind("\n4 1 ") + 1 - text.find('\n')));
  split_stats old;
  ASSERT_TRUE(read_split_stats(path.c_str(), old));
  EXPECT_EQ(old.counts.complete, 1000u);
  EXPECT_FALSE(old.counts.check_header);
  EXPECT_EQ(old.parts, 0);
}

TEST(SplitStats, WhatIsNotAStatsFileIsRefused) {
  TempDir dir;
  const std::string good = stats_path(dir.path());
  ASSERT_TRUE(write_split_stats(good.c_str(), sample_stats()));
  const std::string text = read_file(good);
  const std::size_t counts = text.rfind("\n3 17 ") + 1;  // where the counts' line starts
  const std::size_t check = text.find('\n', counts) + 1;  // and the header check's
  const std::vector<std::string> bad = {
      "",
      "a report line\t1,2\t3,4\tT\n",
      text.substr(0, text.size() / 2),                                     // cut short
      text.substr(0, check),                                               // no header check
      text.substr(0, check) + "4 1 0 2 6 8 99 # Fields\n",                 // a header cut short
      text.substr(0, check) + "4 1 0 2 6 4096 0 \n",                       // a field past the largest
      text.substr(0, check) + "4097 1 0 2 6 8 0 \n",                       // more parts than a split makes
      "pairhits-split-stats 3" + text.substr(text.find('\n')),             // another version
      text.substr(0, counts) + "1 2 9 4 5 6 7 8 0 1\n" + text.substr(check),  // first skip in table 9 of 3
  };
  for (const std::string& b : bad) {
    const std::string path = dir.path() + "/bad";
    write_file(path, b);
    split_stats s;
    EXPECT_FALSE(read_split_stats(path.c_str(), s)) << b;
  }
  split_stats s;
  EXPECT_FALSE(read_split_stats((dir.path() + "/missing").c_str(), s));
}

// Chunks split one by one: lines of a chunk before its first mate mark
// carry the mate the chunks before ended with; the first skipped line is
// the first chunk's that has one, counted in the tables of all.
TEST(SplitStats, ChunksCombineIntoOneLoad) {
  split_stats a;  // ends with mate 1, no skipped line
  a.tables = {"a"};
  a.counts.complete = 10;
  a.counts.marked = 10;
  a.counts.mate1 = 6;
  a.counts.mate2 = 4;
  a.last_mate = 1;
  split_stats b;  // 5 lines before its first mark, then names no mate again
  b.tables = {"b1", "b2"};
  b.counts.complete = 5;
  b.counts.unmated = 5;
  b.counts.skipped = 2;
  b.counts.first_skipped = 3;
  b.counts.first_skipped_table = 1;
  split_stats c;  // 2 carried lines, then mate 2
  c.tables = {"c"};
  c.counts.complete = 4;
  c.counts.marked = 2;
  c.counts.mate2 = 2;
  c.counts.unmated = 2;
  c.counts.skipped = 1;
  c.counts.first_skipped = 1;
  c.counts.default_columns = false;
  c.last_mate = 2;
  const split_stats all = combine_split_stats({a, b, c});
  EXPECT_EQ(all.tables, std::vector<std::string>({"a", "b1", "b2", "c"}));
  EXPECT_EQ(all.counts.complete, 19u);
  EXPECT_EQ(all.counts.mate1, 6u + 5u + 2u);  // b's and c's carried lines take a's last mate
  EXPECT_EQ(all.counts.mate2, 4u + 2u);
  EXPECT_EQ(all.counts.unmated, 0u);
  EXPECT_EQ(all.counts.skipped, 3u);
  EXPECT_EQ(all.counts.first_skipped, 3u);
  EXPECT_EQ(all.counts.first_skipped_table, 2);  // b2
  EXPECT_FALSE(all.counts.default_columns);
  EXPECT_EQ(all.last_mate, 2);
  MemoryFile err;
  write_split_messages(err.fd(), all);
  EXPECT_EQ(err.text(), "ERROR: 3 lines without a complete hit were skipped, the first at line 3 of b2\n");
}

// merge_reports in a child process whose descriptor limit is `limit`, hard
// as well as soft, so that it cannot be raised: 18 reports at a time for a
// limit of 50 (32 are kept for other uses), and rounds beyond.
int merge_under_limit(const std::vector<std::string>& paths, rlim_t limit, int out_fd, int err_fd) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit low{limit, limit};
    ::setrlimit(RLIMIT_NOFILE, &low);
    ::_exit(merge_reports(paths, out_fd, err_fd));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reports with disjoint names, each in name order, merge into one in name
// order, each report's lines in their order; also in rounds, when there
// are more reports than descriptors to spare.
TEST(ReportMerge, MergesByNameInOrder) {
  TempDir dir;
  std::vector<std::string> paths;
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i) names.push_back("r" + std::to_string(i * 7919 % 1000));
  std::sort(names.begin(), names.end());
  std::string expected;
  std::vector<std::string> reports(40);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::size_t r = std::hash<std::string>{}(names[i]) % reports.size();
    const std::string lines = names[i] + "\t1,2\t3,4\tT\n" + names[i] + "\t5,6\t7,8\tA\n";
    reports[r] += lines;
    expected += lines;
  }
  for (std::size_t r = 0; r < reports.size(); ++r) {
    paths.push_back(dir.path() + "/part-" + std::to_string(r) + ".out");
    write_file(paths.back(), reports[r]);
  }
  for (const rlim_t limit : {rlim_t{0}, rlim_t{50}}) {
    MemoryFile out;
    MemoryFile err;
    const int status = limit == 0 ? merge_reports(paths, out.fd(), err.fd())
                                  : merge_under_limit(paths, limit, out.fd(), err.fd());
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out.text(), expected) << "descriptor limit " << limit;
    EXPECT_EQ(err.text(), "");
  }
  EXPECT_EQ(list_folder(dir.path()).size(), reports.size()) << "the rounds' files are removed";
}

TEST(ReportMerge, MissingReportIsNamed) {
  TempDir dir;
  write_file(dir.path() + "/a.out", "r\t1,2\t3,4\tT\n");
  MemoryFile out;
  MemoryFile err;
  EXPECT_EQ(merge_reports({dir.path() + "/a.out", dir.path() + "/b.out"}, out.fd(), err.fd()), 1);
  EXPECT_EQ(err.text(), "ERROR: " + problem_reading_text(dir.path() + "/b.out") + ": No such file or directory\n");
}

// Reports that are not one split's parts: one given twice (also when the
// copies meet in a later round), one out of name order. Each is named,
// with the line.
TEST(ReportMerge, ReportsNotOfOneSplitAreRefused) {
  TempDir dir;
  const auto path = [&](const std::string& name) { return dir.path() + "/" + name; };
  write_file(path("a"), "r1\t1,2\t3,4\tT\nr1\t1,2\t3,4\tU\nr3\t1,2\t3,4\tT\n");
  write_file(path("b"), "r2\t1,2\t3,4\tT\n");
  write_file(path("down"), "r5\t1,2\t3,4\tT\nr4\t1,2\t3,4\tT\n");
  const std::string twice = "ERROR: " + std::string(kReportTwiceText) + ": ";
  const std::string order = "ERROR: " + std::string(kReportOrderText) + ": ";
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{path("a"), path("b"), path("a")}, twice + path("a") + ", line 1\n"},
      {{path("b"), path("down")}, order + path("down") + ", line 2\n"},
  };
  for (const auto& [paths, err] : rows) {
    MemoryFile out;
    MemoryFile err_file;
    EXPECT_EQ(merge_reports(paths, out.fd(), err_file.fd()), 1);
    EXPECT_EQ(err_file.text(), err);
  }
  // 40 reports and the first again: in rounds of 18 the two copies meet in
  // the last merge, of the rounds' files, each named by its first and last
  // report.
  std::vector<std::string> paths;
  for (int r = 0; r < 40; ++r) {
    paths.push_back(path("p" + std::to_string(r)));
    write_file(paths.back(), "r" + std::to_string(100 + r) + "\t1,2\t3,4\tT\n");
  }
  paths.push_back(paths.front());
  MemoryFile out;
  MemoryFile err;
  EXPECT_EQ(merge_under_limit(paths, 50, out.fd(), err.fd()), 1);
  EXPECT_EQ(err.text(), twice + paths[36] + " ... " + paths[40] + ", line 1\n");
}

}  // namespace
}  // namespace pairhits
