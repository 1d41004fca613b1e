// The four programs as functions of the library: their command lines, their
// fixed texts, and a split, its parts' runs and a merge, all in process.
#include <gtest/gtest.h>

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
  };
  using a = command_line::action;
  const std::vector<row> rows = {
      {{"p", "t1", "-", "t2"}, a::run, {"t1", "-", "t2"}, ""},
      {{"p", "--", "-h", "--x"}, a::run, {"-h", "--x"}, ""},
      {{"p", "t", "-n", "3", "u"}, a::run, {"t", "u"}, ""},
      {{"p", "t", "--help", "--bogus"}, a::help, {"t"}, ""},  // the first of help, version or a fault decides
      {{"p", "-V"}, a::version, {}, ""},
      {{"p", "--bogus", "-h"}, a::bad_option, {}, "--bogus"},
      {{"p", "t", "-n"}, a::missing_value, {"t"}, "-n"},
      {{"p", "-x"}, a::bad_option, {}, "-x"},
  };
  for (const row& r : rows) {
    std::vector<const char*> argv;
    for (const std::string& s : r.args) argv.push_back(s.c_str());
    const command_line c = parse_command_line(static_cast<int>(argv.size()), argv.data(), {"-n"});
    EXPECT_EQ(c.what, r.what) << r.args[1];
    EXPECT_EQ(std::vector<std::string>(c.paths.begin(), c.paths.end()), r.paths) << r.args[1];
    EXPECT_EQ(c.bad_option == nullptr ? "" : c.bad_option, r.bad) << r.args[1];
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

// A split, pairhits on each part and a merge, in process, give the report
// and the messages of one run over the tables: several tables, lines
// without a mark that carry the mate over a table's end and over parts,
// skipped lines.
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
  std::vector<std::string> one = {"pairhits"};
  one.insert(one.end(), tables.begin(), tables.end());
  const outcome whole = call(pairhits_main, one);
  ASSERT_EQ(whole.status, 0);
  ASSERT_FALSE(whole.out.empty());
  ASSERT_FALSE(whole.err.empty());
  for (const int parts : {1, 5}) {
    const std::string split_dir = dir.path() + "/parts" + std::to_string(parts);
    std::vector<std::string> split = {"pairhits-split", "-n", std::to_string(parts), "-o", split_dir};
    split.insert(split.end(), tables.begin(), tables.end());
    const outcome s = call(pairhits_split_main, split);
    ASSERT_EQ(s.status, 0) << s.err;
    EXPECT_EQ(s.out + s.err, "");
    std::vector<std::string> merge = {"pairhits-merge", "--stats", stats_path(split_dir)};
    for (int p = 0; p < parts; ++p) {
      const outcome part = call(pairhits_main, {"pairhits", part_path(split_dir, p)});
      ASSERT_EQ(part.status, 0);
      write_file(part_path(split_dir, p, ".out"), part.out);
      merge.push_back(part_path(split_dir, p, ".out"));
    }
    const outcome merged = call(pairhits_merge_main, merge);
    EXPECT_EQ(merged.status, 0);
    EXPECT_EQ(merged.out, whole.out) << parts << " parts";
    EXPECT_EQ(merged.err, whole.err) << parts << " parts";
  }
}

}  // namespace
}  // namespace pairhits
