#include <gtest/gtest.h>

#include "core/money.h"
#include "core/text.h"

namespace kiv {
namespace {

TEST(Money, TextFormsReadBackExactlyAndNothingElseParses) {
  const struct {
    Cents cents;
    const char *amount, *plain;
  } cases[] = {{150000, "1500.0", "1500"},     {1205, "12.05", "12.05"}, {1250, "12.50", "12.50"}, {0, "0.0", "0"},
               {151505, "1515.05", "1515.05"}, {-350, "-3.50", "-3.50"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cents);
    EXPECT_EQ(amount_text(c.cents), c.amount);
    EXPECT_EQ(plain_decimal(c.cents), c.plain);
    EXPECT_EQ(parse_decimal(c.amount), c.cents);
    EXPECT_EQ(parse_decimal(c.plain), c.cents);
  }
  EXPECT_EQ(parse_decimal("100.5"), 10050);
  for (const char* bad : {"", "-", ".", "1.234", "12a", " 12", "1e3", "99999999999999999999"}) {
    EXPECT_EQ(parse_decimal(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(numeric_value("99999999999999999999999"), INT64_MAX) << "leading digits saturate, never wrap";
}

TEST(Money, RoundsHalfToEvenAndGroupsDigits) {
  const std::pair<Cents, std::int64_t> rounding[] = {{10050, 100}, {10150, 102},   {10051, 101},
                                                     {10049, 100}, {-10050, -100}, {-10150, -102}};
  for (const auto& [cents, whole] : rounding) EXPECT_EQ(round_half_even(cents), whole) << cents;
  EXPECT_EQ(group_digits(999), "999");
  EXPECT_EQ(group_digits(1234567), "1,234,567");
}

}  // namespace
}  // namespace kiv
