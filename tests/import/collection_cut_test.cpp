#include <gtest/gtest.h>

#include "collection_lines.h"
#include "import/collection_file.h"

namespace kiv::import {
namespace {

using kiv::testing::detail;
using kiv::testing::put;

TEST(CutDetail, TextFieldsAreCutAtTheirColumnsAndTrimmed) {
  const DetailLine d = cut_detail(format_detail({"0931015", "  0001234567", " B22 33", 0, "1", " 0 7", " 7", "01"}));
  EXPECT_EQ(d.payer_acct, "0001234567");
  EXPECT_EQ(d.payer_id, "B22 33");
  EXPECT_EQ(d.comb_flag, "1");
  EXPECT_EQ(d.stdid, "0 7");
  EXPECT_EQ(d.grpid, "7");
  EXPECT_EQ(d.fail_code, "01");
  EXPECT_EQ(cut_detail(detail(0)).fail_code, "");
}

TEST(CutDetail, DateOfSevenOrSixCharactersByColumns17To19) {
  const struct {
    std::string line, tran_day, tran_day_mdy;
  } cases[] = {
      {detail(0, "", "0931015"), "2004/10/15", "10/15/2004"}, {detail(0, "", "1130229"), "2024/02/29", "02/29/2024"},
      {detail(0, "", "931015"), "2004/10/15", "10/15/2004"},  {detail(0, "", "050102"), "1916/01/02", "01/02/1916"},
      {put(detail(0), 19, "X"), "1920/31/01", "31/01/1920"},   // one non-blank makes it six characters
      {detail(0, "", "1131399"), "2024/13/99", "13/99/2024"},  // copied unchecked
      {detail(0, "", "  31015"), "1914/10/15", "10/15/1914"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 20));
    const DetailLine d = cut_detail(c.line);
    EXPECT_EQ(d.tran_day, c.tran_day);
    EXPECT_EQ(d.tran_day_mdy, c.tran_day_mdy);
  }
}

TEST(CutDetail, AmountIsLeadingDigitsOfWholeUnitsAndHundredths) {
  const struct {
    const char *whole, *hundredths;
    Cents cents;
    const char* text;
  } cases[] = {
      {"000001500", "00", 150000, "1500.0"},
      {"000000012", "05", 1205, "12.05"},
      {"000000012", "50", 1250, "12.50"},
      {"000000000", "00", 0, "0.0"},
      {"999999999", "99", 99999999999, "999999999.99"},
      {"-00001500", "00", 0, "0.0"},  // a sign is no digit
      {"     1500", "00", 150000, "1500.0"},
      {"00001X500", "7 ", 107, "1.07"},
      {"000001500", "  ", 150000, "1500.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.whole) + "/" + c.hundredths);
    const std::string line = put(put(detail(0), 44, c.whole), 53, c.hundredths);
    EXPECT_EQ(cut_detail(line).amount_cents, c.cents);
    EXPECT_EQ(cut_detail(line).amount, c.text);
    EXPECT_EQ(detail_amount(line), c.cents);
  }
}

TEST(CutDetail, FieldsPastTheEndOfAShortLineHoldWhatExists) {
  const std::string full = detail(150000);
  DetailLine d = cut_detail(full.substr(0, 66));
  EXPECT_EQ(d.stdid, "12");
  EXPECT_EQ(d.grpid, "");
  EXPECT_EQ(d.amount, "1500.0");
  EXPECT_EQ(cut_detail(full.substr(0, 45)).amount_cents, 0);  // "00" of the whole units
  d = cut_detail("100000000093");                             // three bytes of a six-byte date
  EXPECT_EQ(d.tran_day, "1920/3/93");
  EXPECT_EQ(d.payer_acct, "");
}

TEST(CutTrailer, TakesCountsAndAmountsEvenFromAShortLine) {
  const std::string line = format_trailer(3, 450000, 2, 300005);
  TrailerLine t = cut_trailer(line);
  EXPECT_EQ(t.file_cnt, 3);
  EXPECT_EQ(t.file_amt, 450000);
  EXPECT_EQ(t.posted_cnt, 2);
  EXPECT_EQ(t.posted_amt, 300005);
  t = cut_trailer(line.substr(0, 70));  // eight of the eleven bytes "00000003000"
  EXPECT_EQ(t.posted_amt, 300);
}

}  // namespace
}  // namespace kiv::import
