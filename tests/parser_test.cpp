#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <random>
#include <string>
#include <vector>

#include "blast_parser.h"
#include "hashing.h"
#include "field_masks.h"
#include "hit_splitter.h"
#include "line_scan.h"
#include "line_agreement.h"
#include "numbers.h"
#include "record_memory.h"

namespace pairhits {
namespace {

using namespace std::string_literals;

struct split_case {
  std::string line;
  std::int32_t mate_before;
  bool complete;
  std::int32_t mate_after;  // the mate after the line
  std::string name;
  std::string target;
  double col3;
  double col7;
};

TEST(ParseBlastLine, FieldsNamesAndMates) {
  const std::string rest = "\tb\t97.5\td\te\tf\t1e-5\th\tT1";  // fields 2 to 9
  const std::vector<split_case> cases = {
      {"x/1" + rest + "\r", 0, true, 1, "x", "T1\r", 97.5, 1e-5},  // no line end handling here
      {"x/1" + rest, 0, true, 1, "x", "T1", 97.5, 1e-5},
      {"x/2" + rest, 1, true, 2, "x", "T1", 97.5, 1e-5},
      {"a/1/2" + rest, 0, true, 2, "a/1", "T1", 97.5, 1e-5},
      {"a/2/1" + rest, 0, true, 2, "a/2", "T1", 97.5, 1e-5},  // "/2" is looked for last
      {"pair7_1" + rest, 0, true, 0, "pair7", "T1", 97.5, 1e-5},
      {"pair7_1" + rest, 1, true, 1, "pair7", "T1", 97.5, 1e-5},
      {"pair7_2" + rest, 2, true, 2, "pair7", "T1", 97.5, 1e-5},
      {"ab" + rest, 1, true, 1, "", "T1", 97.5, 1e-5},
      {"r/1/x" + rest, 0, true, 1, "r/1", "T1", 97.5, 1e-5},
      {"\t\tx/1\t\t" + rest.substr(1) + "\t\t", 0, true, 1, "x", "T1", 97.5, 1e-5},
      {"x/1\tb\t97.3abc\td\te\tf\tNA\th\tT 1 with blanks\tten\televen", 0, true, 1, "x",
       "T 1 with blanks", 97.3, 0.0},
      {"x/1\tb\t -2.5e+3\td\te\tf\t+7\th\tT", 0, true, 1, "x", "T", -2500.0, 7.0},
      {"x/1\tb\t0x10\td\te\tf\tINF\th\tT", 0, true, 1, "x", "T", 16.0,
       std::numeric_limits<double>::infinity()},
      {"x/1\tb\t1e999\td\te\tf\t-1e-999\th\tT", 0, true, 1, "x", "T",
       std::numeric_limits<double>::infinity(), -0.0},
      // Incomplete lines: field 1 still moves the mate.
      {"", 1, false, 1, "", "", 0, 0},
      {"\t\t\t", 1, false, 1, "", "", 0, 0},
      {"x/2\tb\tc\td\te\tf\tg\th", 1, false, 2, "", "", 0, 0},
      {"x/2\tb\tc\td\te\tf\tg\th\t", 1, false, 2, "", "", 0, 0},  // a TAB at the end starts no field
      {"x/2\t\tb\tc\td\te\tf\tg\t\th", 1, false, 2, "", "", 0, 0},  // empty columns do not count
      {"x" + rest, 2, false, 2, "", "", 0, 0},
      {"# Query: frag0/1", 2, false, 1, "", "", 0, 0},
      {"x/1" + rest + "\0tail"s, 2, false, 1, "", "", 0, 0},
      {"x/\0"s + rest, 1, false, 1, "", "", 0, 0},
      // Fields across the scanner's 64-byte blocks.
      {std::string(70, 'n') + "/2" + rest, 0, true, 2, std::string(70, 'n'), "T1", 97.5, 1e-5},
      {"x/1\tb\t1\td\te\tf\t2\t" + std::string(50, 'h') + "\tT", 0, true, 1, "x", "T", 1.0, 2.0},
      {"x/1\tb\t1\td\te\tf\t2\t" + std::string(50, 'h') + "\t\t\t", 0, false, 1, "", "", 0, 0},
      {"x/1\tb\t1\td\te\tf\t2\t\t\t\t" + std::string(120, 'h'), 0, false, 1, "", "", 0, 0},
      [] {  // as many fields as a block can start: 32 in the first
        split_case c{"a/1\tb\t1\td\te\tf\t2\th\tT", 0, true, 1, "a", "T", 1.0, 2.0};
        for (int k = 0; k < 40; ++k) c.line += "\tx";
        return c;
      }(),
  };
  for (const bool wide : {true, false}) {
    // All the lines at once, as the split scans them, a few per call: the
    // mate carries from line to line as check_hit_line carries it.
    use_wide_masks(wide);
    std::string region;
    std::vector<const split_case*> scanned;
    for (const auto& c : cases) {
      if (c.line.find_first_of("\r\n") != std::string::npos) continue;
      region += c.line + "\n";
      scanned.push_back(&c);
    }
    padded_text lines(region);
    std::vector<scanned_line> out(3);
    std::int32_t scan_mate = 0;
    std::int32_t check_mate = 0;
    std::size_t k = 0;
    for (std::size_t done = 0; done < region.size();) {
      std::size_t consumed = 0;
      const padded_view rest = lines.view().part(done, region.size() - done);
      const std::size_t n = scan_lines(rest, scan_mate, out.data(), out.size(), consumed);
      ASSERT_GT(n, 0u);
      for (std::size_t i = 0; i < n; ++i, ++k) {
        const split_case& c = *scanned[k];
        SCOPED_TRACE("scanned line '" + c.line + "'" + (wide ? " (wide masks)" : ""));
        EXPECT_EQ(std::string(rest.part(out[i].start, out[i].size).text()), c.line);
        EXPECT_EQ(out[i].complete, c.complete);
        padded_text one(c.line);
        hit_fields fields;
        check_hit_line(one.view(), fields, check_mate);
        EXPECT_EQ(out[i].mate, check_mate);
        if (c.complete) {
          EXPECT_EQ(std::string(rest.part(out[i].name_start, out[i].name_size).text()), c.name);
        }
      }
      done += consumed;
    }
    EXPECT_EQ(k, scanned.size());
  }
  for (const bool wide : {true, false}) for (const auto& c : cases) {
    use_wide_masks(wide);
    padded_text text(c.line);
    hit h{};
    char* name = nullptr;
    std::int32_t mate = c.mate_before;
    bool complete = parse_Blast_Line(text.view(), h, name, mate);
    SCOPED_TRACE("line '" + c.line + "'" + (wide ? " (wide masks)" : ""));
    EXPECT_EQ(complete, c.complete);
    EXPECT_EQ(mate, c.mate_after);
    // The splitter's check, which only counts the later fields, gives the same verdict.
    padded_text again(c.line);
    hit_fields fields;
    std::int32_t check_mate = c.mate_before;
    EXPECT_EQ(check_hit_line(again.view(), fields, check_mate), c.complete);
    EXPECT_EQ(check_mate, c.mate_after);
    if (c.complete) {
      EXPECT_EQ(std::string(fields.name.text()), c.name);
    }
    if (!complete || !c.complete) continue;
    EXPECT_EQ(std::string(name), c.name);
    EXPECT_EQ(std::string(h.target), c.target);
    EXPECT_EQ(h.col3, c.col3);
    EXPECT_EQ(h.col7, c.col7);
    EXPECT_EQ(std::signbit(h.col7), std::signbit(c.col7));
  }
  use_wide_masks(true);
}

// The mate marks are found with masks over the line's first 64 bytes when
// field 1 ends inside them, and by a plain search otherwise: both ways must
// agree with the rule wherever the mark and the field's ends fall.
TEST(ParseBlastLine, MateMarksAtEveryPlace) {
  const std::string rest = "\tb/2\t1\td\te/1\tf\t2\th\tT/2";  // marks outside field 1 do not count
  for (const bool wide : {true, false}) for (int lead = 0; lead < 3; ++lead) {
    use_wide_masks(wide);
    for (int length = 2; length < 72; ++length) {
      for (int at = 0; at + 2 <= length; at += 1) {
        for (const char* mark : {"/1", "/2", "1/"}) {
          std::string field(static_cast<std::size_t>(length), 'q');
          field.replace(static_cast<std::size_t>(at), 2, mark);
          const std::string line = std::string(static_cast<std::size_t>(lead), '\t') + field + rest;
          padded_text text(line);
          hit h{};
          char* name = nullptr;
          std::int32_t mate = 7;
          ASSERT_TRUE(parse_Blast_Line(text.view(), h, name, mate)) << line;
          const std::int32_t expected = field.find("/2") != std::string::npos   ? 2
                                        : field.find("/1") != std::string::npos ? 1
                                                                                : 7;
          ASSERT_EQ(mate, expected) << line;
          ASSERT_EQ(std::string(name), field.substr(0, field.size() - 2)) << line;
          padded_text again(line);
          hit_fields fields;
          std::int32_t check_mate = 7;
          ASSERT_TRUE(check_hit_line(again.view(), fields, check_mate)) << line;
          ASSERT_EQ(check_mate, expected) << line;
          padded_text ended(line + "\n");
          scanned_line out;
          std::size_t consumed = 0;
          std::int32_t scan_mate = 7;
          ASSERT_EQ(scan_lines(ended.view(), scan_mate, &out, 1, consumed), 1u) << line;
          ASSERT_TRUE(out.complete && out.name_size == field.size() - 2) << line;
          ASSERT_EQ(scan_mate, expected) << line;
        }
      }
    }
  }
  use_wide_masks(true);
}

// Random lines made of the bytes the rules turn on (TAB, '/', '1', '2', a
// zero byte) and others, short and long, with fields 1 that end before,
// at and after the first 64-byte block: every fast way agrees with the
// plain rule on each. Half the lines hold no zero byte, so that long lines
// are complete too.
TEST(LineRules, FastWaysAgreeWithThePlainRule) {
  std::mt19937 random(23);
  const std::string bytes = "//12aZ#.e-\0"s;  // field 1's, and with TABs the rest's; the zero last
  for (int round = 0; round < 1000; ++round) {
    std::string text;
    for (int line = 0; line < 40; ++line) {
      const std::size_t choices = bytes.size() - random() % 2;
      text.append(random() % 4 == 0 ? random() % 3 : 0, '\t');
      const std::size_t field1 = random() % 3 == 0 ? 40 + random() % 60 : random() % 12;
      for (std::size_t k = 0; k < field1; ++k) text += bytes[random() % choices];
      const std::size_t rest = random() % 3 == 0 ? random() % 200 : random() % 40;
      for (std::size_t k = 0; k < rest; ++k) text += random() % 3 == 0 ? '\t' : bytes[random() % choices];
      text += '\n';
    }
    const std::string found = line_disagreement(text, static_cast<std::int32_t>(round % 3));
    ASSERT_EQ(found, "") << "round " << round;
    // The same lines under another format: other fields, other mate rules.
    const line_format format = format_of_bytes(static_cast<unsigned>(random()), static_cast<unsigned>(random()));
    ASSERT_EQ(line_disagreement(text, 0, format), "") << "round " << round << ", fields " << format.name << ","
                                                      << format.col3 << "," << format.col7 << "," << format.target;
  }
}

// Lists compare targets by pointer, which is only right if every request
// for one text gets one pointer and different texts never share one, also
// across the growth of the table of kept targets and for texts that differ
// only in length or in their last byte.
TEST(RecordMemory, KeepsEachTargetOnce) {
  RecordMemory memory;
  std::vector<std::string> texts;
  for (int i = 0; i < 5000; ++i) texts.push_back("target_" + std::to_string(i));
  texts.push_back("");
  texts.push_back("target_1x");
  texts.push_back(std::string(300, 'x'));
  texts.push_back(std::string(301, 'x'));
  std::map<std::string, const char*> first;
  for (int round = 0; round < 2; ++round) {
    for (const std::string& t : texts) {
      const char* kept = memory.keep_target(t, head_word(std::string_view(t)));
      ASSERT_NE(kept, nullptr);
      ASSERT_EQ(std::string(kept), t);
      auto [it, fresh] = first.emplace(t, kept);
      ASSERT_EQ(fresh, round == 0) << t;
      ASSERT_EQ(it->second, kept) << t;
    }
  }
  std::set<const char*> distinct;
  for (const auto& [text, kept] : first) distinct.insert(kept);
  EXPECT_EQ(distinct.size(), texts.size());
}

std::uint64_t bits(double d) {
  std::uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

void expect_same_as_strtod(const std::string& field) {
  const double expected = std::strtod(field.c_str(), nullptr);
  const double got = parse_number(field.c_str(), field.size());
  if (std::isnan(expected)) {
    EXPECT_TRUE(std::isnan(got)) << "'" << field << "'";
  } else {
    EXPECT_EQ(bits(got), bits(expected)) << "'" << field << "' gave " << got << ", strtod " << expected;
  }
}

TEST(ParseNumber, AgreesWithStrtod) {
  for (const char* s : {"0", "-0", "98.000", "100.000", "2.56e-45", "1e-5", "3.5e6", "1E+308", "1.8e308",
                        "4.9e-324", "2.4e-324", "1e-400", "-1e-999", "1e999", ".5", "-.5", "5.", "-",
                        ".", "", " 5", "+5", "\t5", "0x1p3", "0X1P-3", "-0x.8", "inf", "-Infinity",
                        "nan", "NaN(123)", "-nan", "97.3abc", "NA", "1e", "1e+", "1.5e-", "--1",
                        "00000000000000000000000000000000001.5", "123456789012345678901234567890",
                        "0.1000000000000000055511151231257827", "9007199254740993",
                        "2.2250738585072011e-308", "1.7976931348623157e308", "1,5", "1_000"}) {
    expect_same_as_strtod(s);
  }
  // Random decimal texts and random junk.
  std::mt19937_64 random(7);
  const std::string alphabet = "0123456789.eE+-xXpPaAfFinty ";
  for (int i = 0; i < 200000; ++i) {
    std::string s;
    if (i % 2 == 0) {
      if (random() % 4 == 0) s += '-';
      s += std::to_string(random() % 1000000);
      if (random() % 2) s += "." + std::to_string(random());
      if (random() % 2) s += "e" + std::to_string(static_cast<int>(random() % 700) - 350);
    } else {
      const std::size_t n = random() % 12;
      for (std::size_t k = 0; k < n; ++k) s += alphabet[random() % alphabet.size()];
    }
    expect_same_as_strtod(s);
  }
}

// E-values lie far beyond the scales of exact double arithmetic, and a
// product of two rounded values can tip a rounding decision near a tie:
// texts just beside the halfway point between two doubles catch that.
TEST(ParseNumber, EValuesAndNearTiesAgreeWithStrtod) {
  std::mt19937_64 random(11);
  for (int i = 0; i < 200000; ++i) {
    const int digits = 1 + static_cast<int>(random() % 19);
    std::string s = random() % 8 == 0 ? "-" : "";
    s += static_cast<char>('1' + random() % 9);
    if (digits > 1) s += '.';
    for (int k = 1; k < digits; ++k) s += static_cast<char>('0' + random() % 10);
    s += (random() % 2 ? "e-" : "e") + std::to_string(random() % 330);
    expect_same_as_strtod(s);
  }
  for (int i = 0; i < 200000; ++i) {
    std::uint64_t b = random() & 0x7fefffffffffffffu;  // finite, positive
    double d;
    std::memcpy(&d, &b, sizeof d);
    if (d < 1e-300) continue;
    const long double half_way = (static_cast<long double>(d) + std::nextafter(d, std::numeric_limits<double>::infinity())) / 2;
    char text[64];
    std::snprintf(text, sizeof text, "%.*Le", static_cast<int>(16 + random() % 3), half_way);
    expect_same_as_strtod(text);
  }
}

void expect_same_as_printf(double value) {
  char expected[64];
  std::snprintf(expected, sizeof expected, "%g", value);
  char got[32];
  std::size_t n = format_g(value, got);
  EXPECT_EQ(std::string(got, n), std::string(expected)) << "bits " << bits(value);
}

TEST(FormatG, PrintsWhatPrintfPrints) {
  const double specials[] = {0.0, -0.0, 99.0, 97.5, 1e-20, 2.5e7, 98.765432, 1e-5, 0.0001, 0.00001,
                             999999.0, 999999.5, 1000000.0, 123456.5, 0.5, 1e308, 1.7976931348623157e308,
                             4.9e-324, 2.2250738585072014e-308, 1.0 / 3.0, 100.0,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::quiet_NaN()};
  for (double d : specials) expect_same_as_printf(d);
  // Exact ties at the sixth digit, and values at the edges of the fixed and
  // exponent forms, where a rounding slip would show.
  for (long k = 0; k < 20000; ++k) {
    expect_same_as_printf(static_cast<double>(1000000 + 10 * k + 5));   // 7 digits ending in 5
    expect_same_as_printf(static_cast<double>(100000 + k) + 0.5);      // 6 digits and a half
    expect_same_as_printf((static_cast<double>(100000 + k) + 0.5) / 1024.0);
  }
  for (double edge : {1e-5, 1e-4, 1e5, 1e6, 1e16, 1e22, 1e23, 1e-300, 1e300}) {
    for (double step = -64; step <= 64; ++step) {
      expect_same_as_printf(edge + step * std::nextafter(edge, 2 * edge) - step * edge);
      expect_same_as_printf(edge * (1 + step * 1e-7));
      expect_same_as_printf(-edge * (1 - step * 5e-7));
    }
  }
  std::mt19937_64 random(11);
  for (int i = 0; i < 200000; ++i) {
    std::uint64_t b = random();
    double d;
    std::memcpy(&d, &b, sizeof d);
    expect_same_as_printf(d);
    // Values with few digits, like real identities and e-values.
    expect_same_as_printf(static_cast<double>(random() % 100000) / 1000.0);
    expect_same_as_printf(static_cast<double>(random() % 1000) * std::pow(10.0, -static_cast<int>(random() % 200)));
  }
}

}  // namespace
}  // namespace pairhits
