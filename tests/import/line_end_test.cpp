#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "import/collection_file.h"
#include "import/collection_writer.h"
#include "import/error_log.h"

namespace kiv::import {
namespace {

std::vector<std::string> records_of(const std::string& bytes) {
  std::FILE* file = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
  CollectionReader reader = CollectionReader::adopt(file, "memory");
  std::vector<std::string> out;
  while (auto line = reader.next()) out.emplace_back(*line);
  return out;
}

// A CR is part of the line end, also on a last line that has no LF after it.
TEST(LineEnd, CarriageReturnBeforeTheEndOfTheFileIsNoData) {
  const std::string detail = format_detail({"0931015", "00000000000000", "", 1500, "0", "10001", "01", ""});
  ASSERT_EQ(detail.size(), 80u);
  const std::vector<std::string> last = records_of("x\r\n" + detail + "\r");
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0], detail);
  EXPECT_FALSE(cut_detail(last[0]).transfer_failed()) << "the CR is not a failure code";
  EXPECT_TRUE(records_of("1234567890\r").empty()) << "ten bytes and a CR are a short line";
  EXPECT_EQ(records_of("12345678901\r"), std::vector<std::string>{"12345678901"});
}

TEST(ErrorLogName, LastDigitOfTheYearThenMonthDayHourMinuteSecond) {
  std::tm start{};
  start.tm_year = 2004 - 1900;
  start.tm_mon = 9;
  start.tm_mday = 15;
  start.tm_hour = 9;
  start.tm_min = 5;
  start.tm_sec = 7;
  EXPECT_EQ(error_log_path("/s/medi", start), "/s/medi/err27_41015090507.txt");
}

}  // namespace
}  // namespace kiv::import
