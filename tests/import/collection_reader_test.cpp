// Walking a collection file record by record.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "collection_lines.h"
#include "failing_stream.h"
#include "import/collection_file.h"
#include "temp_suite.h"

namespace kiv::import {
namespace {

using kiv::testing::detail_line;
using kiv::testing::DetailFields;
using kiv::testing::trailer_line;

// Every record the reader yields, as owned strings; fails the test on a read error.
std::vector<std::string> records_of(const std::string& path) {
  Error error;
  auto reader = CollectionReader::open(path, error);
  EXPECT_TRUE(reader.has_value()) << error.description;
  std::vector<std::string> out;
  if (!reader) return out;
  while (auto line = reader->next()) out.emplace_back(*line);
  EXPECT_FALSE(reader->failed()) << reader->error().description;
  return out;
}

class CollectionReaderTest : public ::testing::Test {
 protected:
  std::string write(const std::string& content) { return suite_.write_file("medi/post1003.dat", content); }
  kiv::testing::TempSuite suite_{false};
};

TEST_F(CollectionReaderTest, SkipsLinesOfTenBytesOrFewerWherever) {
  const std::string d1 = detail_line(100);
  const std::string d2 = detail_line(200);
  const std::string eleven = "12345678901";
  const auto records = records_of(write("\n" + d1 + "\r\n1234567890\r\n\r\n" + eleven + "\n   \n" + d2 +
                                        "\n1234567890\n" + trailer_line(3, 300) + "\r\n\r\n"));
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0], d1);
  EXPECT_EQ(records[1], eleven);
  EXPECT_EQ(records[2], d2);
  EXPECT_EQ(records[3], trailer_line(3, 300));

  EXPECT_TRUE(records_of(write("")).empty());
  EXPECT_TRUE(records_of(write("\r\n\n1234567890\n          \r\n1")).empty());
}

TEST_F(CollectionReaderTest, LineEndsGiveTheSameFields) {
  DetailFields failed;
  failed.fail_code = "01";
  const std::vector<std::string> lines = {detail_line(1205), detail_line(failed), trailer_line(2, 1205)};
  std::string crlf, lf;
  for (const auto& line : lines) {
    crlf += line + "\r\n";
    lf += line + "\n";
  }
  const std::string no_final_end = lf.substr(0, lf.size() - 1);
  EXPECT_EQ(records_of(write(crlf)), lines);
  EXPECT_EQ(records_of(write(lf)), lines);
  EXPECT_EQ(records_of(write(no_final_end)), lines);
  EXPECT_EQ(cut_detail(records_of(write(crlf))[1]).fail_code, "01");

  // A ten-byte line is skipped even with its CR, and a lone CR inside a line is data.
  EXPECT_TRUE(records_of(write("1234567890\r\n")).empty());
  EXPECT_EQ(records_of(write("12345\r67890\n")), std::vector<std::string>{"12345\r67890"});
}

TEST_F(CollectionReaderTest, EachDateFormInOneFile) {
  DetailFields seven, six;
  seven.date = "0931015";
  six.date = "931016";
  const auto records = records_of(write(detail_line(seven) + "\r\n" + detail_line(six) + "\r\n"));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(cut_detail(records[0]).tran_day, "2004/10/15");
  EXPECT_EQ(cut_detail(records[0]).tran_day_mdy, "10/15/2004");
  EXPECT_EQ(cut_detail(records[1]).tran_day, "2004/10/16");
  EXPECT_EQ(cut_detail(records[1]).tran_day_mdy, "10/16/2004");
}

TEST_F(CollectionReaderTest, KeepsNulAndLongLinesWhole) {
  DetailFields f;
  f.payer_id = std::string("A1\0\0B", 5);
  const std::string with_nul = detail_line(f);
  const std::string long_line = detail_line(700) + std::string(1 << 20, 'x');
  const auto records = records_of(write(with_nul + "\r\n" + long_line + "\r\n" + trailer_line(2, 700) + "\r\n"));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].size(), 80u);
  EXPECT_EQ(cut_detail(records[0]).payer_id, std::string("A1\0\0B", 5));
  EXPECT_EQ(cut_detail(records[0]).stdid, "12345");
  EXPECT_EQ(records[1].size(), 80u + (1u << 20));
  EXPECT_EQ(cut_detail(records[1]).amount, "7.0");
  EXPECT_EQ(records[2], trailer_line(2, 700));
}

TEST_F(CollectionReaderTest, FileThatCannotBeOpenedNamesPathAndReason) {
  Error error;
  const std::string missing = suite_.root() + "/medi/nothing.dat";
  EXPECT_FALSE(CollectionReader::open(missing, error).has_value());
  EXPECT_EQ(error.number, ENOENT);
  EXPECT_NE(error.description.find(missing), std::string::npos);
  EXPECT_NE(error.description.find(std::strerror(ENOENT)), std::string::npos);
  EXPECT_TRUE(error.environmental);

  Error folder_error;
  EXPECT_FALSE(CollectionReader::open(suite_.root(), folder_error).has_value());
  EXPECT_EQ(folder_error.number, EISDIR);
}

TEST(CollectionReader, ReadErrorIsNotTheEndOfTheFile) {
  const std::string d1 = detail_line(100);
  // The second line is cut short by the failure: it must not pass for a last line.
  auto reader = CollectionReader::adopt(kiv::testing::failing_stream(d1 + "\r\n" + detail_line(200).substr(0, 40)),
                                        "floppy/post1003.dat");
  auto first = reader.next();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(*first, d1);
  EXPECT_FALSE(reader.next().has_value());
  EXPECT_TRUE(reader.failed());
  EXPECT_EQ(reader.error().number, EIO);
  EXPECT_NE(reader.error().description.find("floppy/post1003.dat"), std::string::npos);
  EXPECT_FALSE(reader.next().has_value());

  // A reader that was moved from yields nothing and closes nothing twice.
  CollectionReader moved = std::move(reader);
  EXPECT_TRUE(moved.failed());
  EXPECT_FALSE(reader.next().has_value());  // NOLINT(bugprone-use-after-move): defined empty state
}

}  // namespace
}  // namespace kiv::import
