// Writes a large, realistic BLAST hit table made of renamed copies of a real
// one, deterministically: the same arguments always give the same bytes.
//
//   gen_tables SAMPLE COPIES LAYOUT [FORMAT] > table.tsv
//
// Every read of SAMPLE (field 1 less its "/1" or "/2") is copied COPIES times
// under Illumina-style names (A00123:87:HJ5KXDSX2:LANE:TILE:X:Y), keeping its
// hits, duplicate targets and mate pattern. LAYOUT orders the lines:
//   interleaved  read by read, each read's mate-1 hits then its mate-2 hits
//                (BLAST's order for an interleaved query file)
//   split        all mate-1 hits, then all mate-2 hits (cat R1.fa R2.fa)
//   shuffled     all lines in random order
// FORMAT rewrites the same lines, for the run options:
//   std          the 12 default columns of BLAST, DIAMOND and MMseqs2: the
//                target (the sample's field 9) as the subject in column 2,
//                positions of realistic widths in columns 7 to 10, the
//                e-value in column 11 (pairhits --fields std)
//   r1, r2       only mate 1's or mate 2's lines, names without a mark
//                (pairhits -1 R1 -2 R2)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

struct sample_line {
  std::size_t read;  // index of its read in first-seen order
  int mate;          // 1 or 2
  std::string rest;  // fields 2 and later, with the leading TAB
};

// A distinct Illumina-style name for each copy of each read: tiles advance
// slowly, y rises within a tile, x is random, as in a real run's FASTQ.
class NameMaker {
 public:
  std::string next() {
    y_ += 1 + random_() % 40;
    if (y_ > 37000) {
      y_ = 1000 + random_() % 40;
      if (++tile_ % 100 > 78) tile_ += 22;  // 1101..1178, 1201..1278, ...
      if (tile_ > 2678) {
        tile_ = 1101;
        ++lane_;
      }
    }
    char name[64];
    std::snprintf(name, sizeof name, "A00123:87:HJ5KXDSX2:%d:%d:%d:%d", lane_, tile_,
                  static_cast<int>(1000 + random_() % 31000), y_);
    return name;
  }

 private:
  std::mt19937 random_{20261208};
  int lane_ = 1;
  int tile_ = 1101;
  int y_ = 1000;
};

// The sample's fields 2 to 9 (`rest`, with its leading TAB) in the 12
// default columns.
std::string std_columns(const std::string& rest, std::mt19937& random) {
  std::vector<std::string> f;  // f[0] is empty: the TAB before field 2
  for (std::size_t start = 0;;) {
    const std::size_t tab = rest.find('\t', start);
    f.push_back(rest.substr(start, tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  if (f.size() < 9) return rest;
  const unsigned s = 100000 + random() % 4900000;
  const unsigned q = 1 + random() % 3;
  return "\t" + f[8] + "\t" + f[2] + "\t" + f[3] + "\t" + f[4] + "\t" + f[5] + "\t" + std::to_string(q) + "\t" +
         std::to_string(q + 97) + "\t" + std::to_string(s) + "\t" + std::to_string(s + 99) + "\t" + f[6] + "\t" + f[7];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::cerr << "usage: gen_tables SAMPLE COPIES interleaved|split|shuffled [std|r1|r2]\n";
    return 2;
  }
  const std::string layout = argv[3];
  const std::string format = argc == 5 ? argv[4] : "";
  const long copies = std::atol(argv[2]);
  if (copies < 1 || (layout != "interleaved" && layout != "split" && layout != "shuffled") ||
      (!format.empty() && format != "std" && format != "r1" && format != "r2")) {
    std::cerr << "gen_tables: bad COPIES, LAYOUT or FORMAT\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "gen_tables: cannot open " << argv[1] << "\n";
    return 2;
  }

  std::vector<sample_line> lines;
  std::map<std::string, std::size_t> reads;
  std::string text;
  while (std::getline(in, text)) {
    std::size_t tab = text.find('\t');
    if (text.empty() || text[0] == '#' || tab == std::string::npos || tab < 2) continue;
    const std::string field1 = text.substr(0, tab);
    const int mate = field1.compare(tab - 2, 2, "/1") == 0 ? 1 : 2;
    const auto [it, fresh] = reads.emplace(field1.substr(0, tab - 2), reads.size());
    lines.push_back({it->second, mate, text.substr(tab)});
  }

  // Lines of each read and mate, in sample order.
  std::vector<std::vector<const sample_line*>> by_read_mate(2 * reads.size());
  for (const auto& l : lines) by_read_mate[2 * l.read + (l.mate - 1)].push_back(&l);

  NameMaker names;
  std::mt19937 positions(7);
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(copies) * lines.size());
  std::vector<std::string> mate2;  // split layout: mate-2 lines wait here
  for (long c = 0; c < copies; ++c) {
    for (std::size_t r = 0; r < reads.size(); ++r) {
      const std::string name = names.next();
      for (int m = 0; m < 2; ++m) {
        auto& dest = (layout == "split" && m == 1) ? mate2 : out;
        if (format == (m == 0 ? "r2" : "r1")) continue;
        const char* mark = format == "r1" || format == "r2" ? "" : m == 0 ? "/1" : "/2";
        for (const sample_line* l : by_read_mate[2 * r + m]) {
          dest.push_back(name + mark + (format == "std" ? std_columns(l->rest, positions) : l->rest) + "\n");
        }
      }
    }
  }
  for (auto& l : mate2) out.push_back(std::move(l));
  if (layout == "shuffled") std::shuffle(out.begin(), out.end(), std::mt19937_64(42));

  std::string buffer;
  for (const auto& l : out) {
    buffer += l;
    if (buffer.size() > (1 << 20)) {
      std::fwrite(buffer.data(), 1, buffer.size(), stdout);
      buffer.clear();
    }
  }
  std::fwrite(buffer.data(), 1, buffer.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
