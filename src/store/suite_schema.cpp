#include "store/suite_schema.h"

#include <array>

namespace kiv::store {

namespace {

constexpr std::array<std::string_view, 2> kSchool{"tranidrive", "tranidir"};
constexpr std::array<std::string_view, 2> kGroup{"GrpID", "GrpName"};
constexpr std::array<std::string_view, 5> kStudent{"stdid", "delmark", "grade", "clsid", "seatno"};
constexpr std::array<std::string_view, 16> kPayment{"stdid",   "tranday",  "grpid",   "acctid", "offno",  "payamt",
                                                    "fee",     "tranday2", "paystas", "payway", "payday", "pay_record",
                                                    "Unequal", "realamt",  "unusual", "failfac"};
constexpr std::array<std::string_view, 3> kPayitem{"stdid", "tranday", "grpid"};
constexpr std::array<std::string_view, 3> kAgency{"PayStas", "tranday", "grpid"};

constexpr std::array<SuiteTable, 6> kTables{{
    {"KIV2_School", kSchool},
    {"KIV6_Group", kGroup},
    {"KIV7_Student", kStudent},
    {"KIV8_Payment", kPayment},
    {"KIV9_Payitem", kPayitem},
    {"KIV10_Agency", kAgency},
}};

}  // namespace

std::span<const SuiteTable> suite_tables() {
  return kTables;
}

}  // namespace kiv::store
