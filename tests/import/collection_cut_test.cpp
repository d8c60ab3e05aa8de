// Cutting detail and trailer lines into the values the posting pass uses.
#include <gtest/gtest.h>

#include <string>

#include "collection_lines.h"
#include "import/collection_file.h"

namespace kiv::import {
namespace {

using kiv::testing::detail_line;
using kiv::testing::DetailFields;
using kiv::testing::put;
using kiv::testing::trailer_line;
using kiv::testing::TrailerFields;

DetailFields with_date(const std::string& date) {
  DetailFields f;
  f.date = date;
  return f;
}

TEST(RecordKind, IsTheFirstByte) {
  EXPECT_EQ(record_kind(detail_line()), RecordKind::detail);
  EXPECT_EQ(record_kind(trailer_line(1, 100)), RecordKind::trailer);
  EXPECT_EQ(record_kind("3" + detail_line().substr(1)), RecordKind::other);
  EXPECT_EQ(record_kind(" " + detail_line().substr(1)), RecordKind::other);
  EXPECT_EQ(record_kind(""), RecordKind::other);
}

TEST(CutDetail, TextFieldsAreTrimmedOfBlanks) {
  DetailFields f;
  f.payer_acct = "  0001234567  ";
  f.payer_id = " B22 33   ";
  f.comb_flag = "1";
  f.stdid = " 0 7 ";
  f.grpid = " 7";
  f.fail_code = "01";
  const DetailLine d = cut_detail(detail_line(f));
  EXPECT_EQ(d.payer_acct, "0001234567");
  EXPECT_EQ(d.payer_id, "B22 33");
  EXPECT_EQ(d.comb_flag, "1");
  EXPECT_EQ(d.stdid, "0 7");
  EXPECT_EQ(d.grpid, "7");
  EXPECT_EQ(d.fail_code, "01");
  EXPECT_TRUE(d.transfer_failed());

  const DetailLine plain = cut_detail(detail_line());
  EXPECT_EQ(plain.payer_acct, "00012345678901");
  EXPECT_EQ(plain.payer_id, "A123456789");
  EXPECT_EQ(plain.comb_flag, "");
  EXPECT_EQ(plain.stdid, "12345");
  EXPECT_EQ(plain.grpid, "01");
  EXPECT_EQ(plain.fail_code, "");
  EXPECT_FALSE(plain.transfer_failed());
  EXPECT_FALSE(detail_transfer_failed(detail_line()));
  EXPECT_TRUE(detail_transfer_failed(detail_line(f)));
}

TEST(CutDetail, DateTakesItsFormFromColumns17To19) {
  // Seven bytes: three-digit year.
  DetailLine d = cut_detail(detail_line(with_date("0931015")));
  EXPECT_EQ(d.tran_day, "2004/10/15");
  EXPECT_EQ(d.tran_day_mdy, "10/15/2004");
  EXPECT_EQ(cut_detail(detail_line(with_date("1130229"))).tran_day, "2024/02/29");

  // Six bytes: two-digit year, whatever stands in columns 16..19.
  d = cut_detail(detail_line(with_date("931015")));
  EXPECT_EQ(d.tran_day, "2004/10/15");
  EXPECT_EQ(d.tran_day_mdy, "10/15/2004");
  EXPECT_EQ(cut_detail(detail_line(with_date("050102"))).tran_day, "1916/01/02");

  // One non-blank among columns 17..19 is enough to make it the six-byte form.
  std::string line = detail_line(with_date("0931015"));
  put(line, 19, "X");
  EXPECT_EQ(cut_detail(line).tran_day, "1920/31/01");

  // Month and day are copied unchecked; blanks before the year are skipped.
  EXPECT_EQ(cut_detail(detail_line(with_date("1131399"))).tran_day_mdy, "13/99/2024");
  EXPECT_EQ(cut_detail(detail_line(with_date("  31015"))).tran_day, "1914/10/15");
}

TEST(CutDetail, AmountIsWholeUnitsAndHundredths) {
  auto amount = [](const std::string& whole, const std::string& hundredths) {
    DetailFields f;
    f.amt_int = whole;
    f.amt_dec = hundredths;
    return cut_detail(detail_line(f));
  };
  EXPECT_EQ(amount("000001500", "00").amount_cents, 150000);
  EXPECT_EQ(amount("000001500", "00").amount, "1500.0");
  EXPECT_EQ(amount("000000012", "05").amount_cents, 1205);
  EXPECT_EQ(amount("000000012", "05").amount, "12.05");
  EXPECT_EQ(amount("000000012", "50").amount, "12.50");
  EXPECT_EQ(amount("000000000", "00").amount, "0.0");
  EXPECT_EQ(amount("999999999", "99").amount_cents, 99999999999);
  // No sign and no point: a field counts only its leading digits.
  EXPECT_EQ(amount("-00001500", "00").amount_cents, 0);
  EXPECT_EQ(amount("     1500", "00").amount_cents, 150000);
  EXPECT_EQ(amount("00001X500", "7 ").amount_cents, 107);
  EXPECT_EQ(amount("000001500", "  ").amount, "1500.0");
  EXPECT_EQ(detail_amount(detail_line(DetailFields().cents(1205))), 1205);
}

TEST(CutDetail, FieldsPastTheEndOfAShortLineHoldWhatExists) {
  const std::string full = detail_line();
  DetailLine d = cut_detail(full.substr(0, 66));
  EXPECT_EQ(d.stdid, "12");
  EXPECT_EQ(d.grpid, "");
  EXPECT_EQ(d.fail_code, "");
  EXPECT_EQ(d.amount, "1500.0");

  d = cut_detail(full.substr(0, 45));  // two bytes of the whole units: "00"
  EXPECT_EQ(d.amount_cents, 0);
  EXPECT_EQ(d.payer_id, "A123456789");

  d = cut_detail("100000000093");  // three bytes of a six-byte date
  EXPECT_EQ(d.tran_day, "1920/3/93");
  EXPECT_EQ(d.payer_acct, "");
}

TEST(CutDetail, CutsByBytesWhateverTheBytesAre) {
  DetailFields f;
  f.payer_acct = std::string(
      "0001\0"
      "23456789\xff",
      14);
  f.payer_id = "\xa4\xa4\xa4\xe5 \xe4\xb8\xad ";  // Big5 and UTF-8 bytes, not characters
  const std::string line = detail_line(f);
  ASSERT_EQ(line.size(), 80u);
  const DetailLine d = cut_detail(line);
  EXPECT_EQ(d.payer_acct, std::string("0001\0"
                                      "23456789\xff",
                                      14));
  EXPECT_EQ(d.payer_id, "\xa4\xa4\xa4\xe5 \xe4\xb8\xad");
  EXPECT_EQ(d.stdid, "12345");
  EXPECT_EQ(d.amount, "1500.0");
  EXPECT_EQ(d.tran_day, "2004/10/15");
}

TEST(CutTrailer, TakesCountsAndAmounts) {
  const std::string line = trailer_line(TrailerFields{3, 450000, 2, 300005});
  TrailerLine t = cut_trailer(line);
  EXPECT_EQ(t.file_cnt, 3);
  EXPECT_EQ(t.file_amt, 450000);
  EXPECT_EQ(t.posted_cnt, 2);
  EXPECT_EQ(t.posted_amt, 300005);

  // Eight of the eleven whole-unit bytes "00000003000" are there: 3 units.
  t = cut_trailer(line.substr(0, 70));
  EXPECT_EQ(t.posted_amt, 300);
  EXPECT_EQ(t.posted_cnt, 2);
}

}  // namespace
}  // namespace kiv::import
