#pragma once

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

// A suite with a school and a collection file to run on. The lines of the
// file are built from fields; the trailer is made to agree unless told.
struct RunFixture {
  TempSuite suite;
  RecordingOperator op;
  std::vector<std::string> lines;

  void seed(const std::string& sql) const { suite.exec(sql); }

  // A student with one unpaid payment record on 2004-10-15, group 1.
  void student_with_record(const std::string& id, const std::string& payamt, const std::string& fee = "0",
                           const std::string& grade = "3") const {
    seed("INSERT INTO KIV7_Student (stdid, delmark, grade, clsid, seatno) VALUES ('" + id + "', 0, '" + grade +
         "', '2', '15');"
         "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) VALUES ('" +
         id + "', '2004-10-15', 1, 'P" + id + "', 'OF000" + id + "', " + payamt + ", " + fee + ");");
  }

  void detail(const std::string& stdid, Cents amount, const std::string& fail = "", const std::string& comb = "0",
              const std::string& payer_id = "", const std::string& acct = "00000000000000") {
    lines.push_back(import::format_detail({"0931015", acct, payer_id, amount, comb, stdid, "01", fail}));
  }

  Cents credited() const {
    Cents sum = 0;
    for (const auto& l : lines) {
      if (l[0] == '1' && l.substr(78, 2) == "  ") sum += std::stoll(l.substr(43, 9)) * 100 + std::stoll(l.substr(52, 2));
    }
    return sum;
  }

  std::string write(bool with_trailer = true) {
    std::string content;
    std::int64_t count = 0;
    for (const auto& l : lines) {
      content += l + "\r\n";
      if (l[0] == '1') ++count;
    }
    if (with_trailer) content += import::format_trailer(count, credited() + 999, count, credited()) + "\r\n";
    return suite.write_file("in/post1003.dat", content);
  }

  import::RunResult run(import::LineOperations* ops = nullptr, bool with_trailer = true) {
    const std::string path = write(with_trailer);
    return import::confirm_run({suite.paths(), false, path}, op, ops);
  }

  std::string query(const std::string& sql) const {
    auto db = suite.open();
    return query_text(db, sql);
  }

  std::vector<std::string> log_lines(const import::RunResult& r) const {
    std::vector<std::string> out;
    if (!r.log_path) return out;
    std::ifstream in(*r.log_path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    std::size_t start = 0;
    for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2) {
      out.push_back(text.substr(start, pos - start));
    }
    EXPECT_EQ(start, text.size()) << "every log line ends in CR LF";
    return out;
  }

  std::vector<std::string> message_texts() const {
    std::vector<std::string> out;
    for (const auto& m : op.messages) out.push_back(m.text);
    return out;
  }
};

}  // namespace kiv::testing
