// The four programs as functions of the library: their command lines, their
// fixed texts, and a split, its parts' runs and a merge, all in process.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "blast_parser.h"
#include "cli.h"
#include "messages.h"
#include "program_limits.h"
#include "test_files.h"
#include "tools/programs.h"
#include "tools/split_layout.h"

namespace pairhits {
namespace {

using program = program_main;

outcome call(program main, const std::vector<std::string>& args) { return call_program(main, args); }

// The texts that are the system's own, byte for byte; the not-found
// status is the length of its message.
TEST(Messages, FixedTextsAreTheSystemsOwn) {
  EXPECT_STREQ(kNotFoundText, "ERROR: Blast file not found\n");
  EXPECT_EQ(sizeof kNotFoundText - 1, 28u);
  EXPECT_STREQ(kMallocFailedText, "ERROR: problem with malloc allocation as occured\n");
  EXPECT_EQ(sizeof kMallocFailedText - 1, 49u);
  EXPECT_STREQ(kReallocFailedText, "ERROR: problem with realloc allocation as occured\n");
  EXPECT_EQ(sizeof kReallocFailedText - 1, 50u);
}

TEST(CommandLine, OptionsTablesAndFaults) {
  struct row {
    std::vector<std::string> args;
    command_line::action what;
    std::vector<std::string> paths;
    std::string bad;
    std::vector<std::string> values;  // option=value
  };
  using a = command_line::action;
  const std::vector<row> rows = {
      {{"p", "t1", "-", "t2"}, a::run, {"t1", "-", "t2"}, "", {}},
      {{"p", "--", "-h", "--x", "-n5"}, a::run, {"-h", "--x", "-n5"}, "", {}},
      {{"p", "t", "-n", "3", "u"}, a::run, {"t", "u"}, "", {"-n=3"}},
      // A value attached, as getopt takes it: -n5, --num=5, and an empty one.
      {{"p", "-n5", "--num=6", "--num=", "-n", "-n"}, a::run, {}, "", {"-n=5", "--num=6", "--num=", "-n=-n"}},
      {{"p", "t", "--help", "--bogus"}, a::help, {"t"}, "", {}},  // the first of help, version or a fault decides
      {{"p", "-V"}, a::version, {}, "", {}},
      {{"p", "--bogus", "-h"}, a::bad_option, {}, "--bogus", {}},
      {{"p", "t", "-n"}, a::missing_value, {"t"}, "-n", {}},
      {{"p", "-x"}, a::bad_option, {}, "-x", {}},
      {{"p", "-x5"}, a::bad_option, {}, "-x5", {}},
      {{"p", "--numb=5"}, a::bad_option, {}, "--numb=5", {}},
      {{"p", "--help=5"}, a::bad_option, {}, "--help=5", {}},
  };
  for (const row& r : rows) {
    std::vector<const char*> argv;
    for (const std::string& s : r.args) argv.push_back(s.c_str());
    const command_line c = parse_command_line(static_cast<int>(argv.size()), argv.data(), {"-n", "--num"});
    EXPECT_EQ(c.what, r.what) << r.args[1];
    EXPECT_EQ(std::vector<std::string>(c.paths.begin(), c.paths.end()), r.paths) << r.args[1];
    EXPECT_EQ(c.bad_option == nullptr ? "" : c.bad_option, r.bad) << r.args[1];
    std::vector<std::string> values;
    for (const auto& [option, value] : c.values) values.push_back(std::string(option) + "=" + value);
    if (r.what == a::run) {
      EXPECT_EQ(values, r.values) << r.args[1];
    }
  }
  const std::vector<std::pair<std::string, int>> counts = {
      {"1", 1}, {"4096", 4096}, {"0", 0}, {"00", 0}, {"4097", 0}, {"+5", 0}, {"", 0}, {"5x", 0}, {"99999999999999999999", 0}};
  for (const auto& [text, value] : counts) {
    int got = 0;
    EXPECT_EQ(parse_count(text.c_str(), kMaxParts, got), value != 0) << text;
    if (value != 0) {
      EXPECT_EQ(got, value);
    }
  }
}

TEST(Programs, HelpVersionAndUsageFaults) {
  struct row {
    program main;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  };
  const std::string parts = count_range_text("PARTS", kMaxParts);
  const std::vector<row> rows = {
      {pairhits_main, {"pairhits", "--help"}, 0, usage_text(), ""},
      {pairhits_main, {"pairhits", "-V"}, 0, "pairhits " PAIRHITS_VERSION "\n", ""},
      {pairhits_main, {"pairhits", "-q"}, 2, "", "ERROR: unknown option (see pairhits --help): -q\n"},
      {pairhits_main, {"pairhits"}, 28, "", kNotFoundText},
      {pairhits_split_main, {"pairhits-split", "-h"}, 0, split_usage_text(), ""},
      {pairhits_split_main, {"pairhits-split", "-n", "0", "-o", "d", "t"}, 2, "", "ERROR: " + parts + ": 0\n"},
      {pairhits_split_main, {"pairhits-split", "-n", "2", "t"}, 2, "", "ERROR: usage: " + std::string(kSplitUsageLine) + "\n"},
      {pairhits_split_main, {"pairhits-split", "-n", "2", "-o"}, 2, "", "ERROR: option needs a value: -o\n"},
      {pairhits_merge_main, {"pairhits-merge", "--help"}, 0, merge_usage_text(), ""},
      {pairhits_merge_main, {"pairhits-merge", "--stats", "/nonexistent"}, 1, "",
       "ERROR: " + std::string(kNoStatsFileText) + ": /nonexistent\n"},
      {pairhits_partitioned_main, {"pairhits-partitioned", "--help"}, 0, partitioned_usage_text(), ""},
      {pairhits_partitioned_main, {"pairhits-partitioned", "t", "-n", "4097"}, 2, "", "ERROR: " + parts + ": 4097\n"},
      {pairhits_partitioned_main, {"pairhits-partitioned", "t", "-j", "1025"}, 2, "",
       "ERROR: " + count_range_text("JOBS", kMaxJobs) + ": 1025\n"},
      {pairhits_partitioned_main, {"pairhits-partitioned", "/nonexistent"}, 28, "", kNotFoundText},
  };
  for (const row& r : rows) {
    const outcome o = call(r.main, r.args);
    SCOPED_TRACE(r.args[0] + " " + (r.args.size() > 1 ? r.args[1] : ""));
    EXPECT_EQ(o.status, r.status);
    EXPECT_EQ(o.out, r.out);
    EXPECT_EQ(o.err, r.err);
  }
  EXPECT_NE(split_usage_text().find("PARTS is 1 to 4096"), std::string::npos);
  EXPECT_NE(partitioned_usage_text().find("-j JOBS   1 to 1024"), std::string::npos);
}

// A split with `options` of the tables `args`, pairhits on each part with
// `part_options`, and a merge, in process, give the report and the messages
// of one run, for 1 and 5 parts. `name` tells the case in failures.
void expect_family_gives_one_run(const std::string& dir, const std::vector<std::string>& args,
                                 const std::vector<std::string>& part_options, const std::string& name) {
  std::vector<std::string> one = {"pairhits"};
  one.insert(one.end(), args.begin(), args.end());
  const outcome whole = call(pairhits_main, one);
  ASSERT_EQ(whole.status, 0) << name << whole.err;
  for (const int parts : {1, 5}) {
    const std::string split_dir = dir + "/parts" + std::to_string(parts);
    std::vector<std::string> split = {"pairhits-split", "-n", std::to_string(parts), "-o", split_dir};
    split.insert(split.end(), args.begin(), args.end());
    const outcome s = call(pairhits_split_main, split);
    ASSERT_EQ(s.status, 0) << name << s.err;
    EXPECT_EQ(s.out + s.err, "");
    std::vector<std::string> merge = {"pairhits-merge", "--stats", stats_path(split_dir)};
    for (int p = 0; p < parts; ++p) {
      std::vector<std::string> run = {"pairhits"};
      run.insert(run.end(), part_options.begin(), part_options.end());
      run.push_back(part_path(split_dir, p));
      const outcome part = call(pairhits_main, run);
      ASSERT_EQ(part.status, 0);
      write_file(part_path(split_dir, p, ".out"), part.out);
      merge.push_back(part_path(split_dir, p, ".out"));
    }
    const outcome merged = call(pairhits_merge_main, merge);
    EXPECT_EQ(merged.status, 0);
    EXPECT_EQ(merged.out, whole.out) << name << ", " << parts << " parts";
    EXPECT_EQ(merged.err, whole.err) << name << ", " << parts << " parts";
  }
}

// Several tables, lines without a mark that carry the mate over a table's
// end and over parts, skipped lines.
TEST(Programs, SplitPairAndMergeGiveOneRun) {
  TempDir dir;
  std::mt19937 random(5);
  std::vector<std::string> tables;
  for (int t = 0; t < 3; ++t) {
    std::string table;
    for (int k = 0; k < 2000; ++k) {
      const int read = static_cast<int>(random() % 300);
      const char* mark = random() % 5 == 0 ? "_x" : random() % 2 ? "/1" : "/2";
      table += "r" + std::to_string(read) + mark + "\ts\t" + std::to_string(random() % 100) + "\t1\t0\t0\t1e-" +
               std::to_string(random() % 50) + "\t9\tT" + std::to_string(random() % 4) + "\n";
      if (k % 700 == 0) table += "short\tline\n";
    }
    tables.push_back(dir.path() + "/t" + std::to_string(t) + ".tsv");
    write_file(tables.back(), table);
  }
  const outcome whole = call(pairhits_main, {"pairhits", tables[0], tables[1], tables[2]});
  ASSERT_FALSE(whole.out.empty());
  ASSERT_FALSE(whole.err.empty());
  expect_family_gives_one_run(dir.path(), tables, {}, "default");
  // The stats say how many parts there are: a report short is refused.
  const std::string parts = dir.path() + "/parts5";
  std::vector<std::string> merge = {"pairhits-merge", "--stats", stats_path(parts)};
  for (int p = 0; p < 4; ++p) merge.push_back(part_path(parts, p, ".out"));
  const outcome short_one = call(pairhits_merge_main, merge);
  EXPECT_EQ(short_one.status, 1);
  EXPECT_EQ(short_one.out, "");
  EXPECT_EQ(short_one.err, "ERROR: " + report_count_text(5, 4, stats_path(parts)) + "\n");
}

// The same under the run options: random fields (the name's field last
// among them too, where a quiet mate line needs a zero byte), random marks,
// tables of each mate; the parts read with the same --fields, and with
// --marks (given, or /1,/2) when the mate is a mark's or a table's.
TEST(Programs, SplitPairAndMergeGiveOneRunUnderOptions) {
  std::mt19937 random(77);
  const std::vector<std::pair<std::string, std::string>> mark_sets = {{"/1", "/2"}, {".1", ".2"}, {"_f", "_r"}};
  for (int round = 0; round < 24; ++round) {
    TempDir dir;
    std::vector<int> order = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    std::shuffle(order.begin(), order.end(), random);
    if (round % 4 == 0) std::sort(order.begin(), order.begin() + 4, std::greater<int>());  // the name's field last
    const std::string fields = std::to_string(order[0] + 1) + "," + std::to_string(order[1] + 1) + "," +
                               std::to_string(order[2] + 1) + "," + std::to_string(order[3] + 1);
    const int mode = round % 3;  // the mark anywhere and carried, at the end, or by table
    const auto& [m1, m2] = mark_sets[mode == 0 ? 0 : random() % mark_sets.size()];
    const bool marks = mode == 1 || (mode == 2 && random() % 2 == 0);
    std::vector<std::string> args = {"--fields", fields};
    if (marks) args.insert(args.end(), {"--marks", m1 + "," + m2});
    std::vector<std::string> part_options = {"--fields", fields};
    if (mode != 0) part_options.insert(part_options.end(), {"--marks", marks ? m1 + "," + m2 : "/1,/2"});
    const int tables = mode == 2 ? 4 : 2;
    for (int t = 0; t < tables; ++t) {
      std::string table;
      for (int k = 0; k < 600; ++k) {
        const int mate = mode == 2 ? 1 + t % 2 : 1 + static_cast<int>(random() % 2);
        std::vector<std::string> f(10);
        for (std::size_t i = 0; i < f.size(); ++i) f[i] = "c" + std::to_string(i);
        const std::string mark = random() % 4 == 0 ? "" : mate == 1 ? m1 : m2;
        f[static_cast<std::size_t>(order[0])] = "r" + std::to_string(random() % 80) + mark;
        f[static_cast<std::size_t>(order[1])] = std::to_string(random() % 100);
        f[static_cast<std::size_t>(order[2])] = "1e-" + std::to_string(random() % 30);
        f[static_cast<std::size_t>(order[3])] = "T" + std::to_string(random() % 4);
        const std::size_t count = random() % 30 == 0 ? random() % 10 : 10;
        for (std::size_t i = 0; i < count; ++i) table += (i == 0 ? "" : "\t") + f[i];
        table += "\n";
      }
      const std::string path = dir.path() + "/t" + std::to_string(t) + ".tsv";
      write_file(path, table);
      if (mode == 2) args.push_back(t % 2 == 0 ? "-1" : "-2");
      args.push_back(path);
    }
    expect_family_gives_one_run(dir.path(), args, part_options, "round " + std::to_string(round) + " " + fields);
  }
}

}  // namespace
}  // namespace pairhits
