#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "import/collection_writer.h"
#include "import/import_run.h"
#include "recording_operator.h"
#include "temp_suite.h"

namespace kiv::testing {

class LockCheckingOperator : public RecordingOperator {
 public:
  explicit LockCheckingOperator(const TempSuite& suite) : suite_(suite) {}
  void show_message(const std::string& text, MessageIcon icon, const std::string& title) override {
    check(text);
    RecordingOperator::show_message(text, icon, title);
  }
  bool ask_yes_no(const std::string& text) override {
    check(text);
    return RecordingOperator::ask_yes_no(text);
  }
  bool expect_free = true;

 private:
  void check(const std::string& text) {
    if (!std::filesystem::exists(suite_.paths().db_path())) return;
    try {
      auto other = store::Connection::open(suite_.paths());
      other.set_busy_timeout_ms(0);
      other.execute("BEGIN IMMEDIATE; COMMIT;");
    } catch (const std::exception&) {
      EXPECT_FALSE(expect_free) << "shown while the database was locked: " << text;
    }
  }
  const TempSuite& suite_;
};

struct RunFixture {
  TempSuite suite;
  LockCheckingOperator op{suite};
  std::vector<std::string> lines;

  void seed(const std::string& sql) const { suite.exec(sql); }

  void student_with_record(const std::string& id, const std::string& payamt, const std::string& fee = "0") const {
    seed("INSERT INTO KIV7_Student (stdid, delmark, grade, clsid, seatno) VALUES ('" + id +
         "', 0, '3', '2', '15');"
         "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) VALUES ('" +
         id + "', '2004-10-15', 1, 'P" + id + "', 'OF000" + id + "', " + payamt + ", " + fee + ");");
  }

  void detail(const std::string& stdid, Cents amount, const std::string& fail = "", const std::string& comb = "0",
              const std::string& payer_id = "", const std::string& acct = "00000000000000") {
    lines.push_back(import::format_detail({"0931015", acct, payer_id, amount, comb, stdid, "01", fail}));
  }

  std::string write(bool with_trailer = true) {
    std::string content;
    std::int64_t count = 0;
    Cents credited = 0;
    for (const auto& l : lines) {
      content += l + "\r\n";
      ++count;
      if (l.substr(78, 2) == "  ") credited += std::stoll(l.substr(43, 11));
    }
    if (with_trailer) content += import::format_trailer(count, credited + 999, count, credited) + "\r\n";
    return suite.write_file("in/post1003.dat", content);
  }

  kiv::import::RunResult run(import::LineOperations* ops = nullptr, bool with_trailer = true) {
    return import::confirm_run({suite.paths(), false, write(with_trailer)}, op, ops);
  }
  std::string query(const std::string& sql) const {
    auto db = suite.open();
    return query_text(db, sql);
  }
  static std::vector<std::string> log_lines(const import::RunResult& r) {
    std::vector<std::string> out;
    if (!r.log_path) return out;
    std::stringstream all;
    all << std::ifstream(*r.log_path, std::ios::binary).rdbuf();
    const std::string text = all.str();
    std::size_t start = 0;
    for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
      out.push_back(text.substr(start, pos - start));
    }
    EXPECT_EQ(start, text.size()) << "every log line ends in CR LF";
    return out;
  }
  std::ptrdiff_t files_in_work_dir() const {
    return std::distance(std::filesystem::directory_iterator(suite.paths().work_dir()), {});
  }
};

}  // namespace kiv::testing
