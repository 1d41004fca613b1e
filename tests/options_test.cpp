// The run options (--fields, --marks, -1 / -2) against a plain model of
// their rules, on random tables: random fields, random marks, and random
// splits of a table into the tables of each mate.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "blast_parser.h"
#include "messages.h"
#include "plain_model.h"
#include "test_files.h"

namespace pairhits {
namespace {

outcome call(const std::vector<std::string>& args) { return call_program(pairhits_main, args); }

// How the model reads lines: fields from 0, and the marks.
struct reading {
  int q = 0, a = 2, b = 6, t = 8;
  bool marks = false;  // --marks m1,m2
  std::string m1 = "/1", m2 = "/2";
};

using reads = model_reads;

bool ends_in(const std::string& s, const std::string& m) {
  return s.size() >= m.size() && s.compare(s.size() - m.size(), m.size(), m) == 0;
}

// Files a table's LF-ended lines into `r`; `mate` is the table's (-1 / -2) or 0.
void model_table(const std::string& table, int mate, const reading& s, reads& r, load_stats& skipped, int number) {
  std::size_t start = 0;
  unsigned long long line_number = 0;
  while (start < table.size()) {
    ++line_number;
    const std::size_t end = table.find('\n', start);
    const std::string line = table.substr(start, end - start);
    start = end + 1;
    const std::vector<std::string> f = tab_fields(line);
    const std::size_t needed = static_cast<std::size_t>(std::max({s.q, s.a, s.b, s.t}) + 1);
    std::string name;
    int m = 0;
    bool ok = f.size() >= needed;
    if (ok) {
      const std::string& field = f[static_cast<std::size_t>(s.q)];
      if (mate != 0) {
        m = mate;
        const std::string& mark = mate == 1 ? s.m1 : s.m2;
        name = ends_in(field, mark) ? field.substr(0, field.size() - mark.size()) : field;
      } else {
        m = ends_in(field, s.m1) ? 1 : ends_in(field, s.m2) ? 2 : 0;
        if (m != 0) name = field.substr(0, field.size() - (m == 1 ? s.m1 : s.m2).size());
      }
      ok = m != 0 && !name.empty();
    }
    if (!ok) {
      if (!line.empty() && line[0] != '#' && skipped.skipped++ == 0) {
        skipped.first_skipped = line_number;
        skipped.first_skipped_table = number;
      }
      continue;
    }
    auto& list = m == 1 ? r[name].first : r[name].second;
    const std::string& target = f[static_cast<std::size_t>(s.t)];
    bool seen = false;
    for (const model_hit& k : list) seen = seen || k.target == target;
    if (!seen) {
      list.push_back({target, std::strtod(f[static_cast<std::size_t>(s.a)].c_str(), nullptr),
                      std::strtod(f[static_cast<std::size_t>(s.b)].c_str(), nullptr)});
    }
  }
}

// A line of 14 fields whose name field (at q) ends in a mark or none.
std::string random_line(std::mt19937& random, const reading& s, const std::string& mark) {
  auto pick = [&](std::initializer_list<const char*> choices) {
    return std::string(*(choices.begin() + random() % choices.size()));
  };
  std::vector<std::string> f(14);
  for (std::size_t k = 0; k < f.size(); ++k) f[k] = "f" + std::to_string(k);
  f[static_cast<std::size_t>(s.q)] = pick({"r", "R", "read", "a:b:1101 "}) + std::to_string(random() % 30) + mark;
  f[static_cast<std::size_t>(s.a)] = pick({"98.000", "100", "0.975", "NA", "97.5"});
  f[static_cast<std::size_t>(s.b)] = pick({"2.56e-45", "0", "1e-5", "3.5e6"});
  f[static_cast<std::size_t>(s.t)] = pick({"NC_1.1", "T1", "g5_0", "a b"});
  std::string line;
  const std::size_t fields = random() % 10 == 0 ? random() % 14 : 14;  // some lines too short
  for (std::size_t k = 0; k < fields; ++k) line += (k == 0 ? "" : "\t") + f[k];
  return line + "\n";
}

TEST(Options, AgreeWithPlainModel) {
  std::mt19937 random(424242);
  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> mark_sets = {{"/1", "/2"}, {".1", ".2"}, {"_1", "_2"},
                                                                      {"/f", "/r"}, {"1", "2"}};
  for (int round = 0; round < 120; ++round) {
    reading s;
    // Four different fields among the first 14, the name's apart.
    std::vector<int> order(14);
    for (int k = 0; k < 14; ++k) order[static_cast<std::size_t>(k)] = k;
    std::shuffle(order.begin(), order.end(), random);
    s.q = order[0];
    s.a = order[1];
    s.b = random() % 4 == 0 ? order[1] : order[2];  // the same field twice is allowed
    s.t = order[3];
    const auto& marks = mark_sets[random() % mark_sets.size()];
    s.m1 = marks.first;
    s.m2 = marks.second;
    const bool by_table = random() % 2 == 0;
    s.marks = !by_table || random() % 2 == 0 || s.m1 != "/1";
    // The tables: with -1 / -2, each line goes to its mate's table; a mark
    // that the table's mate does not strip stays part of the name.
    std::vector<std::string> tables(by_table ? 2 + random() % 3 : 1 + random() % 2);
    std::vector<int> mates(tables.size(), 0);
    for (std::size_t k = 0; k < tables.size(); ++k) mates[k] = by_table ? 1 + static_cast<int>(k % 2) : 0;
    for (int line = 0; line < 400; ++line) {
      const std::size_t k = random() % tables.size();
      const int mate = by_table ? mates[k] : 1 + static_cast<int>(random() % 2);
      const std::string mark = random() % 8 == 0 ? "" : mate == 1 ? s.m1 : s.m2;
      tables[k] += random_line(random, s, mark);
    }
    std::vector<std::string> args = {"pairhits", "--fields",
                                     std::to_string(s.q + 1) + "," + std::to_string(s.a + 1) + "," +
                                         std::to_string(s.b + 1) + "," + std::to_string(s.t + 1)};
    if (s.marks) {
      args.push_back(random() % 2 ? "--marks" : "-m");
      args.push_back(s.m1 + "," + s.m2);
    }
    // Every thread count must give the one report.
    args.push_back(random() % 2 ? "-t" : "--threads");
    constexpr int kThreads[] = {1, 2, 3, 7};
    args.push_back(std::to_string(kThreads[round % 4]));
    reads r;
    load_stats skipped;
    std::vector<std::string> paths;
    for (std::size_t k = 0; k < tables.size(); ++k) {
      const std::string path = dir.path() + "/t" + std::to_string(k);
      write_file(path, tables[k]);
      if (by_table) args.push_back(mates[k] == 1 ? "-1" : "-2");
      args.push_back(path);
      paths.push_back(path);
      model_table(tables[k], mates[k], s, r, skipped, static_cast<int>(k));
    }
    std::vector<const char*> names;
    for (const std::string& p : paths) names.push_back(p.c_str());
    const outcome o = call(args);
    ASSERT_EQ(o.status, 0) << o.err;
    ASSERT_EQ(o.out, model_report(r)) << "round " << round;
    ASSERT_EQ(o.err, skipped.skipped == 0 ? "" : skip_warning_text(skipped, names.size() > 1 ? names.data() : nullptr))
        << "round " << round;
  }
}

TEST(Options, FaultsAreUsageErrors) {
  const std::string fields = "ERROR: " + fields_fault_text() + ": ";
  const std::string marks = "ERROR: " + std::string(kMarksFaultText) + ": ";
  const std::string threads = "ERROR: THREADS must be a whole number from 1 to 1024: ";
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"--fields", "1,3,7"}, fields + "1,3,7\n"},
      {{"--fields", "1,3,7,9,10"}, fields + "1,3,7,9,10\n"},
      {{"-f", "1,3,7,0"}, fields + "1,3,7,0\n"},
      {{"-f", "1,3,7,4097"}, fields + "1,3,7,4097\n"},
      {{"-f", "1,3,,9"}, fields + "1,3,,9\n"},
      {{"-f", "STD"}, fields + "STD\n"},
      {{"-f", "1,3,7,1"}, "ERROR: " + std::string(kNameFieldFaultText) + ": 1\n"},
      {{"--marks", "/1"}, marks + "/1\n"},
      {{"-m", ",/2"}, marks + ",/2\n"},
      {{"-m", "/1,/1"}, marks + "/1,/1\n"},
      {{"-m", "_1,1"}, marks + "_1,1\n"},  // "1" ends "_1"
      {{"-m", "a,b,c"}, marks + "a,b,c\n"},
      {{"-m", "\t1,\t2"}, marks + "\t1,\t2\n"},  // no field ends in a TAB
      {{"-m", "/1,/2\r"}, marks + "/1,/2\r\n"},
      {{"-1", "x", "y"}, "ERROR: " + std::string(kMixedTablesText) + ": y\n"},
      {{"-1", "-", "-2", "-"}, "ERROR: " + std::string(kStdinTwiceText) + ": -\n"},
      {{"-t", "0"}, threads + "0\n"},
      {{"--threads", "1025"}, threads + "1025\n"},
      {{"-t", "2x"}, threads + "2x\n"},
      {{"-t", "-1"}, threads + "-1\n"},
  };
  for (const auto& [options, err] : rows) {
    std::vector<std::string> args = {"pairhits"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("-");
    if (options.front() == "-1") args.pop_back();
    const outcome o = call(args);
    EXPECT_EQ(o.status, 2) << options.front() << " " << options.back();
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, err);
  }
}

// The warning for names without marks names the column the names are read
// from, also through a split and its merge.
TEST(Options, NoMarksWarningNamesTheNameColumn) {
  TempDir dir;
  const std::string table = dir.path() + "/t.tsv";
  write_file(table, "x\tr1\t99\t4\t5\t6\t1e-5\t8\tT\nx\tr1\t98\t4\t5\t6\t1e-6\t8\tT\n");
  std::string expected = kNoMarksText;
  expected.replace(expected.find("column 1 "), 9, "column 2 ");
  const outcome o = call({"pairhits", "-f", "2,3,7,9", table});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, expected);
}

}  // namespace
}  // namespace pairhits
