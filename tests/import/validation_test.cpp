// The validation pass: record kinds and credited sum against the trailer.
#include <gtest/gtest.h>

#include <cerrno>
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
using Verdict = Validation::Verdict;

std::string lines_of(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\r\n";
  return out;
}

DetailFields failed_transfer(Cents amount) {
  DetailFields f;
  f.cents(amount);
  f.fail_code = "01";
  return f;
}

class ValidationTest : public ::testing::Test {
 protected:
  Validation validate(const std::string& content) {
    auto result = validate_file(suite_.write_file("medi/post1003.dat", content));
    if (const auto* error = std::get_if<Error>(&result)) {
      ADD_FAILURE() << error->description;
      return {};
    }
    return std::get<Validation>(result);
  }
  kiv::testing::TempSuite suite_{false};
};

TEST_F(ValidationTest, CreditedDetailAmountsMustEqualTheTrailer) {
  Validation v = validate(lines_of({detail_line(150000), trailer_line(1, 150000)}));
  EXPECT_EQ(v.verdict, Verdict::accepted);
  EXPECT_EQ(v.detail_count, 1);
  EXPECT_EQ(v.credited_sum, 150000);
  EXPECT_EQ(v.credited_total, 150000);
  ASSERT_TRUE(v.last_trailer.has_value());
  EXPECT_EQ(v.last_trailer->posted_cnt, 1);

  v = validate(lines_of({detail_line(150000), trailer_line(1, 150001)}));
  EXPECT_EQ(v.verdict, Verdict::totals_differ);
  EXPECT_EQ(v.credited_total, 150001);

  // Without a trailer the credited total is 0.
  v = validate(lines_of({detail_line(150000)}));
  EXPECT_EQ(v.verdict, Verdict::totals_differ);
  EXPECT_FALSE(v.last_trailer.has_value());
  EXPECT_EQ(v.credited_total, 0);
}

TEST_F(ValidationTest, FailedTransfersCountAsLinesButNotInTheSum) {
  Validation v = validate(lines_of({detail_line(failed_transfer(150000)), trailer_line(0, 0)}));
  EXPECT_EQ(v.verdict, Verdict::accepted);
  EXPECT_EQ(v.detail_count, 1);
  EXPECT_EQ(v.credited_sum, 0);

  v = validate(lines_of({detail_line(10000), detail_line(failed_transfer(20000)), trailer_line(1, 10000)}));
  EXPECT_EQ(v.verdict, Verdict::accepted);
  EXPECT_EQ(v.detail_count, 2);

  v = validate(lines_of({detail_line(10000), detail_line(failed_transfer(20000)), trailer_line(2, 30000)}));
  EXPECT_EQ(v.verdict, Verdict::totals_differ);

  // No trailer and nothing credited: the sums agree at 0.
  EXPECT_EQ(validate(lines_of({detail_line(failed_transfer(500))})).verdict, Verdict::accepted);
}

TEST_F(ValidationTest, EmptyFilesAndShortLines) {
  Validation v = validate("");
  EXPECT_EQ(v.verdict, Verdict::accepted);
  EXPECT_EQ(v.detail_count, 0);

  v = validate("\r\n1234567890\r\n   \r\n\n");
  EXPECT_EQ(v.verdict, Verdict::accepted);
  EXPECT_EQ(v.detail_count, 0);

  // Blank and ten-byte lines between details are skipped; an eleven-byte
  // line is a record (a detail with no amount, or malformed when it is blank).
  v = validate(lines_of(
      {"", detail_line(100), "1234567890", "", detail_line(250), "          ", trailer_line(2, 350), "1234567890"}));
  EXPECT_EQ(v.verdict, Verdict::accepted);
  EXPECT_EQ(v.detail_count, 2);
  v = validate(lines_of({detail_line(100), "1          ", trailer_line(2, 100)}));
  EXPECT_EQ(v.verdict, Verdict::accepted);
  EXPECT_EQ(v.detail_count, 2);
  EXPECT_EQ(validate(lines_of({detail_line(100), "           ", trailer_line(1, 100)})).verdict, Verdict::malformed);
}

TEST_F(ValidationTest, UnknownRecordKindsReject) {
  const std::string line = detail_line(100);
  Validation v = validate(lines_of({line, "3" + line.substr(1), trailer_line(1, 100)}));
  EXPECT_EQ(v.verdict, Verdict::malformed);
  EXPECT_EQ(v.detail_count, 1);
  EXPECT_EQ(validate(lines_of({" " + line.substr(1), trailer_line(1, 100)})).verdict, Verdict::malformed);
  // A bad kind rejects even when the sums would differ too.
  EXPECT_EQ(validate(lines_of({line, trailer_line(1, 999), "X" + line.substr(1)})).verdict, Verdict::malformed);
}

TEST_F(ValidationTest, DetailLineAfterATrailerRejects) {
  // The later line would be counted but never posted.
  EXPECT_EQ(validate(lines_of({detail_line(100), trailer_line(2, 200), detail_line(100)})).verdict, Verdict::malformed);
  EXPECT_EQ(validate(lines_of({trailer_line(1, 0), detail_line(failed_transfer(100))})).verdict, Verdict::malformed);
  // Trailer after trailer is allowed: the last one counts.
  Validation v = validate(lines_of({detail_line(150000), trailer_line(1, 99900), trailer_line(1, 150000)}));
  EXPECT_EQ(v.verdict, Verdict::accepted);
  EXPECT_EQ(v.credited_total, 150000);
  v = validate(lines_of({detail_line(150000), trailer_line(1, 150000), trailer_line(1, 99900)}));
  EXPECT_EQ(v.verdict, Verdict::totals_differ);
  EXPECT_EQ(v.last_trailer->posted_amt, 99900);
}

TEST_F(ValidationTest, SumsAreExactHundredths) {
  // 0.10 has no exact binary form: ten thousand of them must still make 1000.00.
  std::vector<std::string> lines(10000, detail_line(10));
  lines.push_back(trailer_line(10000, 100000));
  Validation v = validate(lines_of(lines));
  EXPECT_EQ(v.verdict, Verdict::accepted);
  EXPECT_EQ(v.detail_count, 10000);
  EXPECT_EQ(v.credited_sum, 100000);
  lines.back() = trailer_line(10000, 99999);
  EXPECT_EQ(validate(lines_of(lines)).verdict, Verdict::totals_differ);

  // "05" is five hundredths; a sign is not a digit, so "-00001500" is 0.
  EXPECT_EQ(validate(lines_of({detail_line(5), detail_line(5), detail_line(5), trailer_line(3, 15)})).verdict,
            Verdict::accepted);
  DetailFields negative;
  negative.amt_int = "-00001500";
  EXPECT_EQ(validate(lines_of({detail_line(negative), trailer_line(1, 0)})).verdict, Verdict::accepted);
  EXPECT_EQ(validate(lines_of({detail_line(negative), trailer_line(1, 150000)})).verdict, Verdict::totals_differ);
}

TEST_F(ValidationTest, UnreadableFilesAreErrorsNotVerdicts) {
  const std::string missing = suite_.root() + "/medi/post1003.dat";
  auto result = validate_file(missing);
  ASSERT_TRUE(std::holds_alternative<Error>(result));
  EXPECT_EQ(std::get<Error>(result).number, ENOENT);
  EXPECT_NE(std::get<Error>(result).description.find(missing), std::string::npos);

  // Records that were read before the failure do not make a verdict.
  auto reader = CollectionReader::adopt(
      kiv::testing::failing_stream(lines_of({detail_line(100), trailer_line(1, 100)})), "post1003.dat");
  result = validate_records(reader);
  ASSERT_TRUE(std::holds_alternative<Error>(result));
  EXPECT_EQ(std::get<Error>(result).number, EIO);
}

}  // namespace
}  // namespace kiv::import
