#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "store/connection.h"
#include "temp_suite.h"

// Reading and comparing a suite's database alike on both stores, so that one
// test body serves both: a fixture derived from OnEachStore with
// KIV_ON_EACH_STORE(Fixture) runs its TEST_Ps on TempSuite(store()) for each.
namespace kiv::testing {

// Every row of one of the suite's tables in insertion order, one line each:
// its columns as the suite lists them, "col=value" joined by "|", null as
// NULL, numbers without trailing zeros ("1500.50" and 1500.5 both "1500.5").
std::string table_rows(store::Connection& db, std::string_view table);
// table_rows of every table of the suite, each under "== NAME".
std::string all_rows(store::Connection& db);
std::string normalised_number(std::string text);

std::int64_t count_rows(store::Connection& db, std::string_view table, const std::string& where = "");

// SQL that makes a row trigger on either store: `event` as "AFTER DELETE ON
// KIV9_Payitem", `when` a condition on NEW ("" for none), `action` one
// statement, or "RAISE 'text'" to refuse the write with that text as a
// constraint would (on the server a check violation).
std::string trigger_sql(StoreKind store, const std::string& name, const std::string& event, const std::string& when,
                        const std::string& action);

// The server half is skipped, and said so, when KIV_TEST_PG is unset.
class OnEachStore : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override;
  StoreKind store() const { return GetParam(); }
  // For a fixture's members, made before SetUp can skip: the file store
  // stands in for a server that is not there (the test is skipped anyway).
  StoreKind store_to_make() const { return test_server_uri().empty() ? StoreKind::file : store(); }
};

std::string store_name(const ::testing::TestParamInfo<StoreKind>& info);

// Skips the current test unless KIV_TEST_PG names a server.
#define KIV_REQUIRE_TEST_SERVER()                                                            \
  do {                                                                                       \
    if (::kiv::testing::test_server_uri().empty()) GTEST_SKIP() << "KIV_TEST_PG is not set"; \
  } while (false)

}  // namespace kiv::testing

// Runs every TEST_P of `fixture` on the file store and on the server.
#define KIV_ON_EACH_STORE(fixture)                                                                                \
  INSTANTIATE_TEST_SUITE_P(Store, fixture,                                                                        \
                           ::testing::Values(::kiv::testing::StoreKind::file, ::kiv::testing::StoreKind::server), \
                           ::kiv::testing::store_name)
