#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import/collection_writer.h"
#include "import/import_run.h"
#include "recording_operator.h"
#include "temp_suite.h"
#include "tool_run.h"
#include "workstations.h"

namespace kiv::testing {

// Fails the test when a message box or a question comes up while the run
// holds the database: no box may keep the suite's other programs waiting.
class LockCheckingOperator : public RecordingOperator {
 public:
  explicit LockCheckingOperator(const TempSuite& suite) : suite_(suite) {}
  void show_message(const std::string& text, MessageIcon icon, const std::string& title) override {
    check(text), RecordingOperator::show_message(text, icon, title);
  }
  bool ask_yes_no(const std::string& text) override { return check(text), RecordingOperator::ask_yes_no(text); }
  bool confirm_post_again(const std::string& text) override {
    return check(text), RecordingOperator::confirm_post_again(text);
  }
  // A run that means to hold the database while it shows a box says so.
  bool expect_free = true;

 private:
  void check(const std::string& text) const {
    if (!expect_free) return;
    if (!write_lock_free(suite_)) ADD_FAILURE() << "shown while the database was locked: " << text;
  }
  const TempSuite& suite_;
};

// A suite with a collection file built line by line, and the run over it.
struct RunFixture {
  explicit RunFixture(StoreKind store = StoreKind::file) : suite(store) {}
  TempSuite suite;
  LockCheckingOperator op{suite};
  std::vector<std::string> lines;

  void seed(const std::string& sql) const { suite.exec(sql); }
  std::string rows(const std::string& sql) const { return suite.rows(sql); }
  // A student of class 3-2, seat 15, and the payment record of 2004-10-15, group 1.
  void student_with_record(const std::string& id, const std::string& payamt, const std::string& fee = "0") const {
    seed("INSERT INTO KIV7_Student (stdid, delmark, grade, clsid, seatno) VALUES ('" + id + "', 0, '3', '2', '15');" +
         "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) VALUES ('" + id +
         "', '2004-10-15', 1, 'P" + id + "', 'OF000" + id + "', " + payamt + ", " + fee + ");");
  }
  void detail(const std::string& stdid, Cents amount, const std::string& fail = "", const std::string& comb = "0",
              const std::string& payer_id = "", const std::string& acct = "00000000000000") {
    lines.push_back(import::format_detail({"0931015", acct, payer_id, amount, comb, stdid, "01", fail}));
  }
  // The file with a trailer that agrees: every line counted in the file's
  // figures, the lines without a failure code in the credited ones.
  std::string write(bool with_trailer = true) {
    std::string content;
    std::int64_t credited_count = 0;
    Cents all = 0, credited = 0;
    for (const auto& l : lines) {
      content += l + "\r\n";
      all += std::stoll(l.substr(43, 11));
      if (l.substr(78, 2) == "  ") credited += std::stoll(l.substr(43, 11)), ++credited_count;
    }
    const auto count = static_cast<std::int64_t>(lines.size());
    if (with_trailer) content += import::format_trailer(count, all, credited_count, credited) + "\r\n";
    return suite.write_file("in/post1003.dat", content);
  }
  import::RunResult run(import::LineOperations* ops = nullptr, bool with_trailer = true){
      return import::confirm_run({suite.paths(), false, write(with_trailer)}, op, ops);
} static std::vector<std::string> log_lines(const import::RunResult& r) {
  std::vector<std::string> out;
  const std::string text = r.log_path ? slurp(*r.log_path) : "";
  std::size_t start = 0;
  for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2)
    out.push_back(text.substr(start, pos - start));
  EXPECT_EQ(start, text.size()) << "every log line ends in CR LF";
  return out;
}
};  // namespace kiv::testing

}  // namespace kiv::testing
