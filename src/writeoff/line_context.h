#pragma once

#include <string>

namespace kiv::writeoff {

// The values one detail line shares between the import run, the lookups and
// the write-offs. The import run fills the first three from the line and
// clears tran_day2 and pay_way before each line; the lookups leave the rest.
struct LineContext {
  std::string payer_acct;  // the line's 14-character payer account field, trimmed
  std::string payer_id;    // the line's payer identifier, trimmed
  std::string comb_flag;   // "1" marks a combined transfer

  std::string tran_day2;    // second transfer date of the record found, "mm/dd/yyyy" or ""
  std::string due_amt;      // amount due of the record found, plain decimal text
  std::string stu_delmark;  // the student's delete mark: "True", "False" or ""
  std::string pay_state;    // "1" when the payment record is already written off
  std::string pay_way;      // payment channel of the record; "3" paid in cash
  std::string stu_label;    // grade + "年" + class + "班" + seat + "號", or ""

  bool combined() const { return comb_flag == "1"; }
  // Characters 8 to 14 of the payer account: with the payer identifier they
  // select the records of a combined transfer (last 7 characters of offno).
  std::string acct7() const { return payer_acct.size() < 8 ? std::string() : payer_acct.substr(7, 7); }
};

}  // namespace kiv::writeoff
