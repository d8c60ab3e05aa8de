#include <gtest/gtest.h>

#include "core/money.h"
#include "core/text.h"

namespace kiv {
namespace {

TEST(Money, TextFormsOfTheCollectionFileAndOfPlainDecimals) {
  EXPECT_EQ(amount_text(150000), "1500.0");
  EXPECT_EQ(amount_text(1205), "12.05");
  EXPECT_EQ(amount_text(1250), "12.50");
  EXPECT_EQ(amount_text(0), "0.0");
  EXPECT_EQ(plain_decimal(151500), "1515");
  EXPECT_EQ(plain_decimal(151505), "1515.05");
  EXPECT_EQ(plain_decimal(-350), "-3.50");
}

TEST(Money, StrictParseReadsBackEveryTextForm) {
  for (Cents c : {Cents{0}, Cents{5}, Cents{150000}, Cents{1205}, Cents{1250}, Cents{-350}, Cents{99999999999}}) {
    EXPECT_EQ(parse_decimal(amount_text(c)), c);
    EXPECT_EQ(parse_decimal(plain_decimal(c)), c);
  }
  EXPECT_EQ(parse_decimal("100.5"), 10050);
  EXPECT_EQ(parse_decimal("1500.000"), 150000);
  for (const char* bad : {"", "-", ".", "1.234", "12a", " 12", "1e3", "99999999999999999999"}) {
    EXPECT_EQ(parse_decimal(bad), std::nullopt) << bad;
  }
}

TEST(Money, RoundsHalfToEvenAndGroupsDigits) {
  EXPECT_EQ(round_half_even(10050), 100);
  EXPECT_EQ(round_half_even(10150), 102);
  EXPECT_EQ(round_half_even(10051), 101);
  EXPECT_EQ(round_half_even(10049), 100);
  EXPECT_EQ(round_half_even(-10050), -100);
  EXPECT_EQ(round_half_even(-10150), -102);
  EXPECT_EQ(group_digits(0), "0");
  EXPECT_EQ(group_digits(999), "999");
  EXPECT_EQ(group_digits(1000), "1,000");
  EXPECT_EQ(group_digits(1234567), "1,234,567");
}

TEST(Text, NumericValueTakesLeadingDigitsOnly) {
  EXPECT_EQ(numeric_value("07"), 7);
  EXPECT_EQ(numeric_value("  12ab"), 12);
  EXPECT_EQ(numeric_value("-00001500"), 0);
  EXPECT_EQ(numeric_value(""), 0);
  EXPECT_EQ(numeric_value("99999999999999999999999"), INT64_MAX);
  EXPECT_EQ(trim("  a b  "), "a b");
  EXPECT_EQ(cut("abcdef", 3, 2), "cd");
  EXPECT_EQ(cut("abc", 3, 5), "c");
  EXPECT_EQ(cut("abc", 4, 5), "");
}

}  // namespace
}  // namespace kiv
