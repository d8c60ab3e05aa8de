// Writes a seed corpus of small collection files into the folder given:
// valid files of every record form the reader knows, and the near misses a
// postal file may really carry (LF endings, no trailer, short lines).
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "import/collection_writer.h"

namespace {

using kiv::Cents;
using kiv::import::DetailFields;
using kiv::import::format_detail;
using kiv::import::format_trailer;

struct Seed {
  std::string name;
  std::vector<DetailFields> details;
  bool trailer = true;
  std::string line_end = "\r\n";
  std::string between;  // a short line after every detail line
};

std::string file_of(const Seed& seed) {
  std::string out;
  Cents file_amt = 0, posted_amt = 0;
  std::int64_t posted = 0;
  for (const auto& d : seed.details) {
    out += format_detail(d) + seed.line_end + seed.between;
    file_amt += d.amount;
    if (d.fail_code.empty()) {
      ++posted;
      posted_amt += d.amount;
    }
  }
  if (seed.trailer) {
    out += format_trailer(static_cast<std::int64_t>(seed.details.size()), file_amt, posted, posted_amt) + seed.line_end;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  const std::string dir = argv[1];
  const DetailFields paid{"0931015", "00000000000000", "", 151500, "0", "10001", "01", ""};
  const DetailFields short_date{"931015", "00000001234567", "P000000001", 1205, "0", "10002", "03", ""};
  const DetailFields failed{"0931015", "00000000000000", "", 150000, "0", "10003", "01", "01"};
  const DetailFields combined{"0931015", "00000001234567", "P000000001", 612000, "1", "10004", "01", ""};
  const DetailFields letters{"0931115", "00000000000000", "", 50, "0", "A0B1c", "1", ""};

  const std::string crlf = "\r\n";
  const std::vector<Seed> seeds = {
      {"one_line", {paid}, true, crlf, ""},
      {"every_form", {paid, short_date, failed, combined, letters}, true, crlf, ""},
      {"lf_endings", {paid, failed}, true, "\n", ""},
      {"no_trailer_failed_only", {failed}, false, crlf, ""},
      {"short_lines_between", {paid, combined}, true, crlf, "short\r\n\r\n"},
      {"empty", {}, false, crlf, ""},
      {"trailer_only", {}, true, crlf, ""},
  };
  for (const auto& seed : seeds) {
    std::ofstream out(dir + "/" + seed.name + ".dat", std::ios::binary | std::ios::trunc);
    out << file_of(seed);
    if (!out) return 1;
  }
  return 0;
}
