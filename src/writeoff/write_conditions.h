#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/money.h"
#include "store/statement.h"
#include "writeoff/line_context.h"

namespace kiv::writeoff {

// Every write statement numbers its parameters alike, so that a set list and a
// where clause can be joined as text while every value stays bound:
//   ?1 student number   ?2 date of the record(s)   ?3 group
//   ?4 day paid         ?5 payer identifier        ?6 account digits
// A statement's own values take ?7 and up.
inline constexpr int kParamStudent = 1;
inline constexpr int kParamRecordDay = 2;
inline constexpr int kParamGroup = 3;
inline constexpr int kParamPaidDay = 4;
inline constexpr int kParamPayerId = 5;
inline constexpr int kParamAcct7 = 6;
inline constexpr int kParamOwn = 7;

// One student's record of a date and group.
inline constexpr std::string_view kStudentCondition = " where CI(stdid)=CI(?1) and tranday=?2 and grpid=?3";
// Every record of a date and group.
inline constexpr std::string_view kDayCondition = " where tranday=?2 and grpid=?3";
// The records one combined transfer pays: the payer's records of the date and
// group whose account number ends in the line's account digits.
inline constexpr std::string_view kPayerCondition =
    " where tranday=?2 and grpid=?3 and CI(acctid)=CI(?5) and CI(RIGHT(offno,7))=CI(?6)";

inline std::string sql_of(std::string_view head, std::string_view condition) {
  std::string sql(head);
  sql += condition;
  return sql;
}

// The dates and group a line's write statements select records by, in their
// stored form. The second date is converted only where it is used, so a line
// whose record names none never depends on it.
struct LineKey {
  std::string day;     // the line's date, stored form
  std::int64_t group;  // the line's group number

  // A line's date and its group as the write-offs take it: a whole number,
  // else the line fails (an empty group text included).
  static LineKey strict(const std::string& u_day, const std::string& u_grpid);
};

// The record's second transfer date ("mm/dd/yyyy" in the line context) in its
// stored form; only meaningful when the context holds one.
std::string second_day(const LineContext& ctx);

void bind_student(store::Statement& st, std::string_view stdid, const std::string& record_day, std::int64_t group);
void bind_day(store::Statement& st, const std::string& record_day, std::int64_t group);
void bind_payer(store::Statement& st, const LineContext& ctx, const std::string& record_day, std::int64_t group);

// The line's amount as a number: a text that is not one fails the line.
Cents line_amount(const std::string& amount_text);

// The anomaly code of a received amount that differs from the amount due:
// 'a' for a student not marked deleted, 'c' for a marked one or an empty mark.
std::string_view anomaly_code(const LineContext& ctx);

}  // namespace kiv::writeoff
