#include "import/collection_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "import/collection_writer.h"
#include "import/error_log.h"
#include "temp_suite.h"

namespace kiv::import {
namespace {

using Verdict = Validation::Verdict;

std::string detail(Cents amount, const std::string& fail_code = "", const std::string& roc_date = "0931015") {
  return format_detail({roc_date, "00012345678901", "A123456789", amount, "", "12345", "01", fail_code});
}
std::string trailer(std::int64_t count, Cents amount) {
  return format_trailer(count, amount, count, amount);
}
std::string put(std::string line, std::size_t column, std::string_view bytes) {
  return line.replace(column - 1, bytes.size(), bytes);
}
std::string crlf_file(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\r\n";
  return out;
}

TEST(CutDetail, TextFieldsAreCutAtTheirColumnsAndTrimmedAndAShortLineOrTrailerGivesWhatExists) {
  const std::string fields = format_detail({"0931015", "  0001234567", " B22 33", 0, "1", " 0 7", " 7", "01"});
  const DetailLine d = cut_detail(fields);
  EXPECT_EQ(d.payer_acct + "|" + d.payer_id + "|" + d.comb_flag + "|" + d.stdid + "|" + d.grpid + "|" + d.fail_code,
            "0001234567|B22 33|1|0 7|7|01");
  EXPECT_EQ(cut_detail(detail(0)).fail_code, "");
  const DetailLine cut = cut_detail(detail(150000).substr(0, 66));
  EXPECT_EQ(cut.stdid + "|" + cut.grpid + "|" + cut.amount, "12||1500.0");
  EXPECT_EQ(cut_detail(detail(150000).substr(0, 45)).amount_cents, 0);  // "00" of the whole units
  EXPECT_EQ(cut_detail("100000000093").tran_day, "1920/3/93");          // three bytes of a six-byte date
  const std::string line = format_trailer(3, 450000, 2, 300005);
  const TrailerLine t = cut_trailer(line);
  EXPECT_EQ((std::vector<std::int64_t>{t.file_cnt, t.file_amt, t.posted_cnt, t.posted_amt,
                                       cut_trailer(line.substr(0, 70)).posted_amt}),  // 8 of 11 bytes "00000003000"
            (std::vector<std::int64_t>{3, 450000, 2, 300005, 300}));
}

TEST(CutDetail, DateOfSevenOrSixCharactersByColumns17To19AndAmountOfLeadingDigits) {
  const std::pair<std::string, const char*> dates[] = {
      {detail(0, "", "0931015"), "2004/10/15 10/15/2004"}, {detail(0, "", "1130229"), "2024/02/29 02/29/2024"},
      {detail(0, "", "931015"), "2004/10/15 10/15/2004"},  {detail(0, "", "050102"), "1916/01/02 01/02/1916"},
      {put(detail(0), 19, "X"), "1920/31/01 31/01/1920"},   // one non-blank makes it six characters
      {detail(0, "", "1131399"), "2024/13/99 13/99/2024"},  // copied unchecked
      {detail(0, "", "  31015"), "1914/10/15 10/15/1914"},
  };
  for (const auto& [line, days] : dates)
    EXPECT_EQ(cut_detail(line).tran_day + " " + cut_detail(line).tran_day_mdy, days);
  const char* amounts[][3] = {
      {"000001500", "00", "150000 1500.0"},
      {"000000012", "05", "1205 12.05"},
      {"000000012", "50", "1250 12.50"},
      {"000000000", "00", "0 0.0"},
      {"999999999", "99", "99999999999 999999999.99"},
      {"-00001500", "00", "0 0.0"},  // a sign is no digit
      {"     1500", "00", "150000 1500.0"},
      {"00001X500", "7 ", "107 1.07"},
      {"000001500", "  ", "150000 1500.0"},
  };
  for (const auto& [whole, hundredths, expected] : amounts) {
    const std::string line = put(put(detail(0), 44, whole), 53, hundredths);
    EXPECT_EQ(std::to_string(cut_detail(line).amount_cents) + " " + cut_detail(line).amount, expected) << whole;
    EXPECT_EQ(detail_amount(line), cut_detail(line).amount_cents);
  }
}

// Gives `data`, then a read error.
std::FILE* failing_stream(std::string data) {
  cookie_io_functions_t io{};
  io.read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
    auto* rest = static_cast<std::string*>(cookie);
    if (rest->empty()) return errno = EIO, -1;
    const std::size_t n = rest->copy(buffer, size);
    rest->erase(0, n);
    return static_cast<ssize_t>(n);
  };
  io.close = [](void* cookie) { return delete static_cast<std::string*>(cookie), 0; };
  return fopencookie(new std::string(std::move(data)), "r", io);
}

class CollectionFile : public ::testing::Test {
 protected:
  std::string write(const std::string& content) { return suite_.write_file("medi/post1003.dat", content); }
  std::vector<std::string> records(const std::string& content) {
    Error error;
    auto reader = CollectionReader::open(write(content), error);
    std::vector<std::string> out;
    while (auto line = reader->next()) out.emplace_back(*line);
    return reader->failed() ? std::vector<std::string>{"(failed)"} : out;
  }

  kiv::testing::TempSuite suite_{false};
};

TEST_F(CollectionFile, RecordsAreTheLinesLongerThanTenBytesAsReadWithoutTheirLineEnd) {
  const std::string d1 = detail(1205, "01", "0931015"), d2 = detail(1205, "", "931016"), eleven = "12345678901";
  const std::string odd = put(detail(0), 34, std::string("A\0\xa4\xe5 \xe4\xb8\xad  ", 10));
  const std::string long_line = detail(700) + std::string(1 << 20, 'x');
  const struct {
    std::string content;
    std::vector<std::string> records;
  } cases[] = {
      {"\n" + d1 + "\r\n1234567890\r\n\r\n" + eleven + "\n   \n" + d2 + "\n1234567890\r\n\r\n", {d1, eleven, d2}},
      {crlf_file({d1, d2}), {d1, d2}},
      {d1 + "\n" + d2, {d1, d2}},            // the last line without its line end
      {"12345\r67890\n", {"12345\r67890"}},  // a lone CR is data
      {"x\r\n" + d1 + "\r", {d1}},           // a CR at the end of the file is a line end
      {"1234567890\r", {}},
      {"12345678901\r", {eleven}},
      {crlf_file({odd, long_line}), {odd, long_line}},  // NUL and high bytes, a megabyte line
  };
  for (const auto& c : cases) EXPECT_EQ(records(c.content), c.records) << c.content.substr(0, 40);
  EXPECT_EQ(cut_detail(odd).payer_id, std::string("A\0\xa4\xe5 \xe4\xb8\xad", 8));
}

TEST(ErrorLogName, LastDigitOfTheYearThenMonthDayHourMinuteSecond) {
  std::tm start{};
  start.tm_year = 2004 - 1900, start.tm_mon = 9, start.tm_mday = 15, start.tm_hour = 9, start.tm_min = 5,
  start.tm_sec = 7;
  EXPECT_EQ(error_log_path("/s/medi", start), "/s/medi/err27_41015090507.txt");
}

TEST_F(CollectionFile, FileThatCannotBeReadIsAnErrorNamingPathAndReasonAndAReadErrorIsNoEndOfFile) {
  Error error;
  const std::string missing = suite_.root() + "/medi/nothing.dat";
  EXPECT_FALSE(CollectionReader::open(missing, error).has_value());
  EXPECT_TRUE(error.number == ENOENT && error.environmental);
  EXPECT_NE(error.description.find(missing + ": " + std::strerror(ENOENT)), std::string::npos);
  EXPECT_FALSE(CollectionReader::open(suite_.root(), error).has_value());
  EXPECT_EQ(error.number, EISDIR);
  EXPECT_TRUE(std::holds_alternative<Error>(validate_file(missing)));

  const std::string d1 = detail(100);
  auto reader = CollectionReader::adopt(failing_stream(d1 + "\r\n" + detail(200).substr(0, 40)), "floppy/x.dat");
  EXPECT_EQ(reader.next(), d1);
  EXPECT_EQ(reader.next(), std::nullopt) << "a line cut short by the failure is no last line";
  EXPECT_TRUE(reader.failed() && reader.error().number == EIO);
  EXPECT_NE(reader.error().description.find("floppy/x.dat"), std::string::npos);
  auto whole = CollectionReader::adopt(failing_stream(crlf_file({d1, trailer(1, 100)})), "x.dat");
  const auto result = validate_records(whole);
  ASSERT_TRUE(std::holds_alternative<Error>(result)) << "records read before a failure make no verdict";
  EXPECT_EQ(std::get<Error>(result).number, EIO);
}

TEST_F(CollectionFile, VerdictFromRecordKindsAndCreditedSumAgainstTheLastTrailer) {
  const std::string d = detail(100);
  std::vector<std::string> dimes(10000, detail(10));  // 0.10 has no exact binary form
  dimes.push_back(trailer(10000, 100000));
  const struct {
    const char* name;
    std::string content;
    Verdict verdict;
    std::int64_t count = -1;  // -1: not checked
    Cents sum = 0;
  } cases[] = {
      {"1500/00 against 1500/00", crlf_file({detail(150000), trailer(1, 150000)}), Verdict::accepted, 1, 150000},
      {"a hundredth apart", crlf_file({detail(150000), trailer(1, 150001)}), Verdict::totals_differ, 1, 150000},
      {"no trailer", crlf_file({detail(150000)}), Verdict::totals_differ, 1, 150000},
      {"failed line left out", crlf_file({d, detail(200, "01"), trailer(1, 100)}), Verdict::accepted, 2, 100},
      {"failed line summed", crlf_file({d, detail(200, "01"), trailer(2, 300)}), Verdict::totals_differ, 2, 100},
      {"only failed, no trailer", crlf_file({detail(500, "01")}), Verdict::accepted, 1, 0},
      {"empty file", "", Verdict::accepted, 0, 0},
      {"short lines only", "\r\n1234567890\r\n   \r\n\n", Verdict::accepted, 0, 0},
      {"eleven bytes of a detail", crlf_file({d, "1          ", trailer(2, 100)}), Verdict::accepted, 2, 100},
      {"eleven blanks", crlf_file({d, "           ", trailer(1, 100)}), Verdict::malformed},
      {"kind 3", crlf_file({d, "3" + d.substr(1), trailer(1, 100)}), Verdict::malformed},
      {"kind blank", crlf_file({" " + d.substr(1), trailer(1, 100)}), Verdict::malformed},
      {"bad kind beats sums", crlf_file({d, trailer(1, 999), "X" + d.substr(1)}), Verdict::malformed},
      {"detail after trailer", crlf_file({d, trailer(2, 200), d}), Verdict::malformed},
      {"failed detail after trailer", crlf_file({trailer(0, 0), detail(100, "01")}), Verdict::malformed},
      {"identical trailers", crlf_file({d, trailer(1, 100), trailer(1, 100)}), Verdict::accepted, 1, 100},
      {"trailers disagree, last agrees", crlf_file({d, trailer(1, 999), trailer(1, 100)}), Verdict::malformed},
      {"trailers disagree, first agrees", crlf_file({d, trailer(1, 100), trailer(1, 999)}), Verdict::malformed},
      {"ten thousand dimes", crlf_file(dimes), Verdict::accepted, 10000, 100000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Validation v = std::get<Validation>(validate_file(write(c.content)));
    EXPECT_EQ(v.verdict, c.verdict);
    EXPECT_TRUE(c.count < 0 || (v.detail_count == c.count && v.credited_sum == c.sum))
        << v.detail_count << " " << v.credited_sum;
  }
}

}  // namespace
}  // namespace kiv::import
