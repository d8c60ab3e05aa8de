#include "import/collection_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "collection_lines.h"
#include "temp_suite.h"

namespace kiv::import {
namespace {

using kiv::testing::crlf_file;
using kiv::testing::detail;
using kiv::testing::trailer;
using Verdict = Validation::Verdict;

std::FILE* failing_stream(std::string data) {
  cookie_io_functions_t io{};
  io.read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
    auto* rest = static_cast<std::string*>(cookie);
    if (rest->empty()) {
      errno = EIO;
      return -1;
    }
    const std::size_t n = std::min(size, rest->size());
    std::memcpy(buffer, rest->data(), n);
    rest->erase(0, n);
    return static_cast<ssize_t>(n);
  };
  io.close = [](void* cookie) {
    delete static_cast<std::string*>(cookie);
    return 0;
  };
  return fopencookie(new std::string(std::move(data)), "r", io);
}

class CollectionFile : public ::testing::Test {
 protected:
  std::string write(const std::string& content) { return suite_.write_file("medi/post1003.dat", content); }

  std::vector<std::string> records(const std::string& content) {
    Error error;
    auto reader = CollectionReader::open(write(content), error);
    EXPECT_TRUE(reader) << error.description;
    if (!reader) return {};
    std::vector<std::string> out;
    while (auto line = reader->next()) out.emplace_back(*line);
    EXPECT_FALSE(reader->failed());
    return out;
  }

  Validation validate(const std::string& content) {
    auto result = validate_file(write(content));
    EXPECT_TRUE(std::holds_alternative<Validation>(result));
    return std::holds_alternative<Validation>(result) ? std::get<Validation>(result) : Validation{};
  }

  kiv::testing::TempSuite suite_{false};
};

TEST_F(CollectionFile, LinesOfTenBytesOrFewerAreSkippedWherever) {
  const std::string d1 = detail(100), d2 = detail(200), eleven = "12345678901";
  EXPECT_EQ(records("\n" + d1 + "\r\n1234567890\r\n\r\n" + eleven + "\n   \n" + d2 + "\n1234567890\r\n\r\n"),
            (std::vector<std::string>{d1, eleven, d2}));
}

TEST_F(CollectionFile, CrLfAndLfEndsGiveTheSameRecordsWithBothDateForms) {
  const std::vector<std::string> lines = {detail(1205, "01", "0931015"), detail(1205, "", "931016"), trailer(2, 1205)};
  std::string lf;
  for (const auto& line : lines) lf += line + "\n";
  EXPECT_EQ(records(crlf_file(lines)), lines);
  EXPECT_EQ(records(lf), lines);
  EXPECT_EQ(records(lf.substr(0, lf.size() - 1)), lines);
  EXPECT_EQ(records("12345\r67890\n"), std::vector<std::string>{"12345\r67890"}) << "a lone CR is data";
}

TEST_F(CollectionFile, NulAndHighBytesAndLongLinesAreKeptWhole) {
  const std::string raw = kiv::testing::put(detail(0), 34, std::string("A\0\xa4\xe5 \xe4\xb8\xad  ", 10));
  const std::string long_line = detail(700) + std::string(1 << 20, 'x');
  const auto read = records(crlf_file({raw, long_line}));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(cut_detail(read[0]).payer_id, std::string("A\0\xa4\xe5 \xe4\xb8\xad", 8));
  EXPECT_EQ(cut_detail(read[0]).stdid, "12345");
  EXPECT_EQ(read[1], long_line);
}

TEST_F(CollectionFile, LineLongerThanAnyRecordRejectsTheFileInBoundedMemory) {
  const std::string huge = detail(100) + std::string(kLongestLine, '9');
  const std::string path = suite_.write_file("medi/huge.dat", crlf_file({huge, trailer(1, 100)}));
  Error error;
  auto reader = CollectionReader::open(path, error);
  ASSERT_TRUE(reader.has_value());
  EXPECT_EQ(reader->next()->size(), kLongestLine);
  EXPECT_TRUE(reader->overlong());
  EXPECT_EQ(reader->next()->substr(0, 1), "2") << "the rest of the long line is skipped, not taken for records";
  EXPECT_FALSE(reader->overlong());
  const auto verdict = validate_file(path);
  ASSERT_TRUE(std::holds_alternative<Validation>(verdict));
  EXPECT_EQ(std::get<Validation>(verdict).verdict, Validation::Verdict::malformed);
}

TEST_F(CollectionFile, FileThatCannotBeReadIsAnErrorNamingPathAndReason) {
  Error error;
  const std::string missing = suite_.root() + "/medi/nothing.dat";
  EXPECT_FALSE(CollectionReader::open(missing, error).has_value());
  EXPECT_EQ(error.number, ENOENT);
  EXPECT_NE(error.description.find(missing + ": " + std::strerror(ENOENT)), std::string::npos);
  EXPECT_TRUE(error.environmental);
  EXPECT_FALSE(CollectionReader::open(suite_.root(), error).has_value());
  EXPECT_EQ(error.number, EISDIR);
  EXPECT_TRUE(std::holds_alternative<Error>(validate_file(missing)));
}

TEST_F(CollectionFile, ReadErrorIsNotTheEndOfTheFile) {
  const std::string d1 = detail(100);
  auto reader = CollectionReader::adopt(failing_stream(d1 + "\r\n" + detail(200).substr(0, 40)), "floppy/x.dat");
  EXPECT_EQ(reader.next(), d1);
  EXPECT_EQ(reader.next(), std::nullopt) << "a line cut short by the failure is no last line";
  EXPECT_TRUE(reader.failed());
  EXPECT_EQ(reader.error().number, EIO);
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
    const Validation v = validate(c.content);
    EXPECT_EQ(v.verdict, c.verdict);
    if (c.count < 0) continue;
    EXPECT_EQ(v.detail_count, c.count);
    EXPECT_EQ(v.credited_sum, c.sum);
  }
}

}  // namespace
}  // namespace kiv::import
