#pragma once

#include <cstdint>
#include <string>

#include "core/money.h"

namespace kiv::import {

// The fields of a detail line as the postal service writes them.
struct DetailFields {
  std::string roc_date;    // "0931015" (yyyMMdd) or "931015" (yyMMdd)
  std::string payer_acct;  // 14 characters
  std::string payer_id;    // 10 characters
  Cents amount = 0;
  std::string comb_flag;  // "1" for a combined transfer
  std::string stdid;      // 5 characters
  std::string grpid;      // 2 characters
  std::string fail_code;  // 2 characters, blank when the transfer succeeded
};

// A fixed-width detail line (without its line end) in the layout the reader
// cuts. Fields are padded with blanks on the right or cut to their width.
std::string format_detail(const DetailFields& fields);

// A trailer line with the file's totals.
std::string format_trailer(std::int64_t file_cnt, Cents file_amt, std::int64_t posted_cnt, Cents posted_amt);

}  // namespace kiv::import
