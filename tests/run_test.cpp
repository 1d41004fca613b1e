// Whole runs in process: tables given as strings, compared with a plain model
// of the rules and with hand-written expectations.
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "alloc.h"
#include "blast_parser.h"
#include "messages.h"
#include "plain_model.h"
#include "test_files.h"

namespace pairhits {
namespace {

using namespace std::string_literals;


// A run on `threads` threads, reading `read_bytes` at a time.
outcome run(const std::string& table, int threads = 1, std::size_t read_bytes = std::size_t{1} << 20) {
  MemoryFile in(table);
  MemoryFile out;
  MemoryFile err;
  const int status = pairhits_run(in.fd(), out.fd(), err.fd(), read_bytes, line_format(), threads);
  return {out.text(), err.text(), status};
}

// Thread counts that every randomized comparison runs with: one, as many as
// CI's cores, more, and a count that divides nothing evenly.
constexpr int kThreadCounts[] = {1, 2, 3, 7};

// The warnings after a load that explain an empty or wrong report.
const std::string kOnlyMate1 = kOnlyMate1Text;
const std::string kOnlyMate2 = kOnlyMate2Text;
const std::string kNoMarks = kNoMarksText;
const std::string kDefaultColumns = kDefaultColumnsText;
const std::string kNothingRead = kNothingReadText;

// The skipped-lines message for `skipped` lines, the first at line `first`.
std::string skip_warning(long skipped, long first) {
  load_stats stats;
  stats.skipped = static_cast<unsigned long long>(skipped);
  stats.first_skipped = static_cast<unsigned long long>(first);
  return skip_warning_text(stats, nullptr);
}

// The rules written as plainly as possible: split on line ends, split on
// TABs, strtod, a map of names, printf.
std::string model(const std::string& table, std::string* warning = nullptr) {
  std::vector<std::string> lines;
  std::string current;
  bool pending = false;
  for (std::size_t i = 0; i < table.size(); ++i) {
    char c = table[i];
    if (c == '\n' || c == '\r') {
      lines.push_back(current);
      current.clear();
      pending = false;
      if (c == '\r' && i + 1 < table.size() && table[i + 1] == '\n') ++i;
    } else {
      current += c;
      pending = true;
    }
  }
  if (pending) lines.push_back(current);

  model_reads reads;
  int mate = 0;
  long skipped = 0, first = 0;
  long complete = 0, marked = 0, mate1 = 0, mate2 = 0;
  bool default_columns = true;
  auto whole = [](const std::string& f) { return f.find_first_not_of("0123456789") == std::string::npos; };
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::string& line = lines[n];
    const std::vector<std::string> fields = tab_fields(line);
    bool has_mark = false;
    if (!fields.empty()) {
      if (fields[0].find("/1") != std::string::npos) mate = 1;
      if (fields[0].find("/2") != std::string::npos) mate = 2;
      has_mark = fields[0].find("/1") != std::string::npos || fields[0].find("/2") != std::string::npos;
    }
    if (fields.size() < 9 || fields[0].size() < 2 || line.find('\0') != std::string::npos) {
      if (!line.empty() && line[0] != '#' && skipped++ == 0) first = static_cast<long>(n + 1);
      continue;
    }
    ++complete;
    marked += has_mark;
    mate1 += mate == 1;
    mate2 += mate == 2;
    default_columns = default_columns && fields.size() == 12 && whole(fields[6]) && whole(fields[7]) &&
                      whole(fields[8]) && whole(fields[9]);
    auto& lists = reads[fields[0].substr(0, fields[0].size() - 2)];
    auto& list = mate == 1 ? lists.first : lists.second;
    bool seen = false;
    for (const model_hit& k : list) seen = seen || k.target == fields[8];
    if (!seen) {
      list.push_back({fields[8], std::strtod(fields[2].c_str(), nullptr),
                      std::strtod(fields[6].c_str(), nullptr)});
    }
  }
  const std::string out = model_report(reads);
  if (warning != nullptr) {
    warning->clear();
    if (skipped > 0) *warning = skip_warning(skipped, first);
    if (complete == 0 && skipped > 0) *warning += kNothingRead;
    if (complete > 0 && default_columns) *warning += kDefaultColumns;
    if (complete > 0 && marked == 0) *warning += kNoMarks;
    if (marked > 0 && mate1 == 0) *warning += kOnlyMate2;
    if (marked > 0 && mate2 == 0) *warning += kOnlyMate1;
  }
  return out;
}

std::string hit_line(const std::string& field1, const std::string& col3, const std::string& col7,
                     const std::string& target, const std::string& end = "\n") {
  return field1 + "\tsubject\t" + col3 + "\t100\t0\t0\t" + col7 + "\t180\t" + target + end;
}

TEST(Run, WorkedExample) {
  const std::string table = hit_line("rB/1", "99.0", "0.00001", "T1") + hit_line("rA/2", "88", "0.5", "T2") +
                            hit_line("rB/2", "97.5", "3.5e6", "T1") + hit_line("rB/1", "50", "2", "T1") +
                            hit_line("rA/1", "90", "0.25", "T2");
  outcome o = run(table);
  EXPECT_EQ(o.out, "rA\t90,88\t0.25,0.5\tT2\nrB\t99,97.5\t1e-05,3.5e+06\tT1\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.status, 0);
}

TEST(Run, HandWrittenRules) {
  struct row {
    const char* what;
    std::string table;
    std::string out;
    std::string err;
  };
  const std::vector<row> rows = {
      {"empty table", "", "", ""},
      {"one mate only", hit_line("r/1", "1", "2", "T") + hit_line("r/1", "3", "4", "U"), "", kOnlyMate1},
      {"no mate marks", hit_line("r_1", "1", "2", "T") + hit_line("r_2", "3", "4", "T"), "", kNoMarks},
      {"BLAST's default columns",
       "r/1\ts\t99\t100\t0\t0\t1\t100\t5\t104\t1e-40\t180\nr/2\ts\t98\t100\t0\t0\t1\t100\t5\t104\t1e-39\t180\n",
       "r\t99,98\t1,1\t5\n", kDefaultColumns},
      {"nothing reads as a hit line", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"s, "",
       skip_warning(4, 1) + kNothingRead},
      {"byte-wise order", hit_line("r9/1", "1", "1", "T") + hit_line("r9/2", "2", "2", "T") +
                              hit_line("r10/1", "3", "3", "T") + hit_line("r10/2", "4", "4", "T") +
                              hit_line("R1/1", "5", "5", "T") + hit_line("R1/2", "6", "6", "T"),
       "R1\t5,6\t5,6\tT\nr10\t3,4\t3,4\tT\nr9\t1,2\t1,2\tT\n", ""},
      {"mate 0 files under mate 2, then carries over",
       hit_line("a_x", "1", "1", "T") + hit_line("a/1", "2", "2", "T") + hit_line("b_x", "3", "3", "U") +
           hit_line("b/2", "4", "4", "U") + hit_line("b_y", "5", "5", "U"),
       "a\t2,1\t2,1\tT\nb\t3,4\t3,4\tU\n", ""},
      {"first of a duplicate target kept; lines follow mate 1's order",
       hit_line("r/2", "1", "1", "B") + hit_line("r/2", "2", "2", "A") + hit_line("r/2", "9", "9", "A") +
           hit_line("r/1", "3", "3", "A") + hit_line("r/1", "4", "4", "B") + hit_line("r/1", "8", "8", "A"),
       "r\t3,2\t3,2\tA\nr\t4,1\t4,1\tB\n", ""},
      {"grouping does not need adjacency",
       hit_line("p/1", "1", "1", "T") + hit_line("q/1", "2", "2", "T") + hit_line("q/2", "3", "3", "T") +
           hit_line("p/2", "4", "4", "T"),
       "p\t1,4\t1,4\tT\nq\t2,3\t2,3\tT\n", ""},
      {"comments and blank lines are skipped quietly",
       "# BLASTN 2.12.0+\n# Query: r/1\n\n" + hit_line("r/1", "1", "1", "T") + "\r\n" +
           hit_line("r/2", "2", "2", "T"),
       "r\t1,2\t1,2\tT\n", ""},
      {"incomplete lines are counted and skipped",
       "garbage\n" + hit_line("r/1", "1", "1", "T") + "x\ty\n" + hit_line("r/2", "2", "2", "T"),
       "r\t1,2\t1,2\tT\n", skip_warning(2, 1)},
      {"one incomplete line", hit_line("r/1", "1", "1", "T") + "\t\t\t\n" + hit_line("r/2", "2", "2", "T"),
       "r\t1,2\t1,2\tT\n", skip_warning(1, 2)},
      {"a line with a zero byte is skipped, its neighbours are not",
       hit_line("r/1", "1", "1", "T") + hit_line("r/2", "5", "5", "T\0Z"s) + hit_line("r/2", "2", "2", "T"),
       "r\t1,2\t1,2\tT\n", skip_warning(1, 2)},
      {"lone CR ends a line", hit_line("r/1", "1", "1", "T", "\r") + hit_line("r/2", "2", "2", "T", "\r"),
       "r\t1,2\t1,2\tT\n", ""},
      {"numbers as strtod reads them and as %g prints them",
       hit_line("r/1", "98.765432", "1e-20", "T") + hit_line("r/2", "NA", "2.5e7", "T"),
       "r\t98.7654,0\t1e-20,2.5e+07\tT\n", ""},
      {"out of range and special numbers",
       hit_line("r/1", "1e999", "nan", "T") + hit_line("r/2", "-1e999", "-1e-999", "T"),
       "r\tinf,-inf\tnan,-0\tT\n", ""},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    outcome o = run(r.table);
    EXPECT_EQ(o.out, r.out);
    EXPECT_EQ(o.err, r.err);
    EXPECT_EQ(o.status, 0);
    std::string warning;
    EXPECT_EQ(model(r.table, &warning), r.out) << "the model disagrees with the hand-written rule";
    EXPECT_EQ(warning, r.err);
  }
}

TEST(Run, ManyTargetsForOneMateAreAllKept) {
  // Reads of a few lines around one whose report is longer than the chunks
  // a threaded report is written in: its lines must stay together, in order.
  std::string table;
  std::string expected;
  const int n = 6000;  // well past any fixed-size list, and over 100 KB of report
  for (const char* other : {"a", "q"}) {
    table += hit_line(std::string(other) + "/1", "1", "1", "T") + hit_line(std::string(other) + "/2", "2", "2", "T");
    expected += std::string(other) + "\t1,2\t1,2\tT\n";
  }
  for (int i = 0; i < n; ++i) table += hit_line("r/1", std::to_string(i), "1", "T" + std::to_string(i));
  for (int i = n - 1; i >= 0; --i) table += hit_line("r/2", "2", "3", "T" + std::to_string(i));
  for (int i = 0; i < n; ++i) expected += "r\t" + std::to_string(i) + ",2\t1,3\tT" + std::to_string(i) + "\n";
  for (const char* other : {"s", "z"}) {
    table += hit_line(std::string(other) + "/1", "1", "1", "T") + hit_line(std::string(other) + "/2", "2", "2", "T");
    expected += std::string(other) + "\t1,2\t1,2\tT\n";
  }
  for (const int threads : kThreadCounts) EXPECT_EQ(run(table, threads).out, expected) << threads << " threads";
}

// Random tables that stress every rule at once: few names (so records grow
// and repeat), few targets (so duplicates are common), all line ends, odd
// numbers, incomplete lines and comments.
std::string random_table(std::mt19937& random, int lines) {
  auto pick = [&](std::initializer_list<const char*> choices) {
    return std::string(*(choices.begin() + random() % choices.size()));
  };
  std::string table;
  for (int i = 0; i < lines; ++i) {
    std::string end = pick({"\n", "\n", "\n", "\r\n", "\r"});
    switch (random() % 20) {
      case 0:
        table += pick({"", "# comment /1", "# x/2", "\t\t", "short\tline", "x", "r1/1\ta\tb"}) + end;
        continue;
      case 1:
        table += hit_line("r" + std::to_string(random() % 5) + pick({"/1", "/2"}), "1", "2",
                          "T\0"s + std::to_string(random() % 3)) + end;
        continue;
      default:
        break;
    }
    std::string name = pick({"r", "R", "read", "r1", "r10", "\xc3\xa9", "a:b:1101"}) + std::to_string(random() % 40);
    std::string suffix = pick({"/1", "/2", "/1", "/2", "_1", "/1/2", "/3"});
    std::string col3 = pick({"98.000", "100", "97.5", "NA", "1e999", "0x1p4", " 7", "-0", "99.12345678", "3abc"});
    std::string col7 = pick({"2.56e-45", "0", "1e-5", "3.5e6", "inf", "-nan", "1e-400", "123456789"});
    std::string target = pick({"1050", "1000", "T1", "g5_0", "g5_1", "a b"});
    std::string extra = random() % 5 == 0 ? "\textra\tfields" : "";
    std::string gap = random() % 7 == 0 ? "\t\t" : "\t";
    table += name + suffix + gap + "s\t" + col3 + "\t1\t2\t3\t" + col7 + "\t8\t" + target + extra + end;
  }
  return table;
}

TEST(Run, AgreesWithPlainModelOnRandomTables) {
  std::mt19937 random(2026);
  for (int round = 0; round < 400; ++round) {
    const std::string table = random_table(random, 1 + static_cast<int>(random() % 300));
    std::string warning;
    const std::string expected = model(table, &warning);
    // Small reads give the threads many small batches.
    const std::size_t read_bytes = round % 2 == 0 ? std::size_t{1} << 20 : 64 + random() % 2000;
    for (const int threads : kThreadCounts) {
      outcome o = run(table, threads, read_bytes);
      ASSERT_EQ(o.out, expected) << "round " << round << ", " << threads << " threads";
      ASSERT_EQ(o.err, warning) << "round " << round << ", " << threads << " threads";
      ASSERT_EQ(o.status, 0);
    }
  }
}

TEST(Run, LongListsAgreeWithPlainModel) {
  // Hundreds of targets per mate, many repeated, mates interleaved: lists
  // grow past the size where they get a table of their targets.
  std::mt19937 random(5);
  for (int round = 0; round < 20; ++round) {
    std::string table;
    const int targets = 50 + static_cast<int>(random() % 400);
    for (int i = 0; i < 3000; ++i) {
      table += hit_line("r" + std::to_string(random() % 3) + (random() % 2 ? "/1" : "/2"),
                        std::to_string(i), std::to_string(random() % 100),
                        "t" + std::to_string(random() % static_cast<unsigned>(targets)));
    }
    const std::string expected = model(table);
    for (const int threads : kThreadCounts) {
      ASSERT_EQ(run(table, threads).out, expected) << "round " << round << ", " << threads << " threads";
    }
  }
}

TEST(Run, NumberTextsSharingPrefixesKeepTheirOwnValues) {
  // Conversions are remembered by the field's text: texts that agree in
  // their first 8 or 16 bytes, or are prefixes of one another, must not be
  // taken for each other, in whatever order they come.
  std::vector<std::string> texts;
  for (int k = 0; k < 20; ++k) {
    const std::string zeros(static_cast<std::size_t>(k), '0');
    texts.push_back("0." + zeros + "1");
    texts.push_back("0." + zeros + "12");
    texts.push_back("1e" + std::to_string(k));
    texts.push_back("1e-" + std::to_string(k));
    texts.push_back("-0." + zeros + "3");
  }
  // Same length, same first 8 bytes; and same length, same bytes 9 to 16.
  for (int n = 0; n < 1000; ++n) {
    char text[32];
    std::snprintf(text, sizeof text, "0.000000%03d", n);
    texts.push_back(text);
    std::snprintf(text, sizeof text, "%03d.00000000001", n);
    texts.push_back(text);
  }
  std::mt19937 random(17);
  std::string table;
  for (int i = 0; i < 20000; ++i) {
    const std::string read = "r" + std::to_string(i / 2);
    table += hit_line(read + (i % 2 == 0 ? "/1" : "/2"), texts[random() % texts.size()],
                      texts[random() % texts.size()], "T");
  }
  ASSERT_EQ(run(table).out, model(table));
}

TEST(Run, AgreesWithPlainModelAcrossReadBuffers) {
  // Tables of several MiB: batches of lines meet the reader's buffer border.
  std::mt19937 random(31);
  for (int round = 0; round < 3; ++round) {
    const std::string table = random_table(random, 100000);
    ASSERT_GT(table.size(), std::size_t{3} << 20);
    std::string warning;
    const std::string expected = model(table, &warning);
    for (const int threads : kThreadCounts) {
      outcome o = run(table, threads);
      ASSERT_EQ(o.out, expected) << "round " << round << ", " << threads << " threads";
      ASSERT_EQ(o.err, warning);
    }
  }
}

TEST(Run, ManyReadsAgreeWithPlainModel) {
  // Enough reads that the threaded report cuts the names into many ranges:
  // names of many lengths sharing prefixes, lines in random order.
  std::mt19937 random(41);
  std::vector<std::string> lines;
  for (int i = 0; i < 30000; ++i) {
    const std::string read = "A0:" + std::to_string(random() % 7) + ":" + std::to_string(i * 7919 % 100003);
    for (int k = 0; k < 3; ++k) {
      lines.push_back(hit_line(read + (random() % 2 ? "/1" : "/2"), std::to_string(k), std::to_string(i % 13),
                               "t" + std::to_string(random() % 3)));
    }
  }
  std::shuffle(lines.begin(), lines.end(), random);
  std::string table;
  for (const std::string& l : lines) table += l;
  const std::string expected = model(table);
  for (const int threads : kThreadCounts) {
    ASSERT_EQ(run(table, threads).out, expected) << threads << " threads";
  }
}

TEST(Run, AllocationFailureGivesNoReport) {
  std::mt19937 random(99);
  const std::string table = random_table(random, 3000);
  const std::string complete = run(table).out;
  ASSERT_FALSE(complete.empty());
  for (const int threads : {1, 3}) {
    bool succeeded = false;
    for (long allowed = 0; !succeeded; ++allowed) {
      fail_allocations_after(allowed);
      outcome o = run(table, threads, 4096);
      fail_allocations_after(-1);
      if (o.status == 0) {
        EXPECT_EQ(o.out, complete);
        succeeded = true;
      } else {
        ASSERT_EQ(o.status, 1) << "allowed " << allowed << ", " << threads << " threads";
        ASSERT_EQ(o.out, "") << "allowed " << allowed;
        ASSERT_EQ(o.err, kMallocFailedText) << "allowed " << allowed;
      }
    }
  }
}

TEST(Run, LineTooLongForMemoryGivesReallocMessage) {
  const std::string table = hit_line("r/1", "1", "1", std::string(3 << 20, 'T'));
  fail_allocations_after(3);  // index, its root, the first buffer
  outcome o = run(table);
  fail_allocations_after(-1);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, kReallocFailedText);
}

}  // namespace
}  // namespace pairhits
