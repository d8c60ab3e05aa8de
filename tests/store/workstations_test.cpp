// Several workstations on one database: runs side by side, a lock held by
// another one, the server going away under a run.
#include "workstations.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "import/collection_writer.h"
#include "import/import_run.h"
#include "import/line_operations.h"
#include "recording_operator.h"
#include "store/server_setup.h"
#include "store/statement.h"
#include "store/transaction.h"
#include "store_text.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

std::int64_t json_number(const std::string& json, const std::string& key) {
  const std::string value = json_field(json, key);
  return value.empty() ? -1 : std::stoll(value);
}

class Workstations : public OnEachStore {};
KIV_ON_EACH_STORE(Workstations);

// Two workstations post the same file at the same moment. Each line is
// settled once: by one of them, while the other, coming to it later, finds it
// written off and logs it. Together they leave what one run leaves.
TEST_P(Workstations, TwoRunsOfTheSameFileSettleEachLineOnce) {
  constexpr int kStudents = 1500;
  TempSuite once(store(), false), twice(store(), false);
  const std::string reference = once.root() + "/school", shared = twice.root() + "/school";
  for (const auto* scratch : {&once, &twice}) {
    const auto demo =
        scratch->tool_args("demo", scratch->root() + "/school", {"--students", std::to_string(kStudents)});
    ASSERT_EQ(run_tool(scratch->root(), demo).status, 0);
  }
  const ToolRun alone =
      run_tool(once.root(), {"post", "--root", reference, "--json", reference + "/medi/post1003.dat"});
  ASSERT_EQ(alone.status, 0) << alone.err;

  const std::vector<std::string> post = {"post", "--root", shared, "--json", shared + "/medi/post1003.dat"};
  const std::vector<ToolRun> runs = run_tools_together(twice.root(), {post, post});
  for (const ToolRun& run : runs) {
    // A run that starts only after the other has completed finds the file
    // posted, and without an operator to say otherwise posts nothing.
    if (run.status == 1 && json_field(run.out, "outcome") == "stopped") {
      EXPECT_EQ(json_number(run.out, "lines") + json_number(run.out, "ok"), 0) << run.out;
      continue;
    }
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(json_number(run.out, "lines"), json_number(alone.out, "lines"));
  }
  ASSERT_TRUE(runs[0].status == 0 || runs[1].status == 0) << "one of them posted the file";
  // (Not posted_total: each run rounds its own total to whole units.)
  for (const char* counter : {"ok", "failed"}) {
    EXPECT_EQ(json_number(runs[0].out, counter) + json_number(runs[1].out, counter), json_number(alone.out, counter))
        << counter << " of two runs together against one run alone";
  }
  // Which run posts which line depends on who gets the writer lock first
  // after each batch: a run that started later may find every line done.
  auto shared_db = store::Connection::open(SuitePaths{shared}),
       reference_db = store::Connection::open(SuitePaths{reference});
  EXPECT_TRUE(all_rows(shared_db) == all_rows(reference_db)) << "two runs left other rows than one";
}

// One record per student on one date, and a file paying each exactly.
std::vector<std::string> single_record_school(const SuitePaths& paths, int students) {
  auto db = store::Connection::open(paths);
  store::Transaction tx(db);
  db.execute("INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 1)");
  static const store::Sql kStudent{"INSERT INTO KIV7_Student (stdid, delmark, grade) VALUES (?1, 0, '1')"};
  static const store::Sql kPayment{
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee) VALUES (?1, '2004-10-15', 1, ?2, 0)"};
  std::vector<std::string> lines;
  std::string content;
  Cents total = 0;
  for (int i = 0; i < students; ++i) {
    const std::string id = std::to_string(10000 + i);
    const Cents due = 150000 + i % 7 * 1000;
    store::Statement(db, kStudent).bind(1, id).run();
    store::Statement(db, kPayment).bind(1, id).bind(2, plain_decimal(due)).run();
    lines.push_back(import::format_detail({"0931015", "", "", due, "0", id, "01", ""}));
    content += lines.back() + "\r\n";
    total += due;
  }
  tx.commit();
  std::ofstream(paths.root + "/medi/post1003.dat", std::ios::binary)
      << content << import::format_trailer(students, total, students, total) << "\r\n";
  return lines;
}

// A PostgreSQL cluster of the test's own (scripts/pg-cluster.sh), removed at
// the end; halting it ends its processes at once, as a power cut of the
// server's machine would, and it comes back through recovery.
class PrivateCluster {
 public:
  PrivateCluster() : dir_(script("start")), uri_(script("uri '" + dir_ + "'")) {}
  ~PrivateCluster() { (void)script("stop '" + dir_ + "'"); }
  const std::string& uri() const { return uri_; }
  void halt() { script("halt '" + dir_ + "'"); }
  void start() { script("start '" + dir_ + "'"); }

 private:
  // Its standard output without the last newline; "" when it failed.
  static std::string script(const std::string& args) {
    const std::string command = std::string(KIV_SOURCE_DIR) + "/scripts/pg-cluster.sh " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[512];
    for (std::size_t got; pipe != nullptr && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
      out.append(buffer, got);
    }
    const bool ok = pipe != nullptr && ::pclose(pipe) == 0;
    EXPECT_TRUE(ok) << command << ": " << out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return ok ? out : "";
  }
  std::string dir_, uri_;
};

// Stops the server in immediate mode when the run reaches a line.
class ServerStop : public import::LineOperations {
 public:
  ServerStop(PrivateCluster& cluster, int at_line) : cluster_(cluster), at_line_(at_line) {}
  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    if (++lines_ == at_line_) cluster_.halt();
    return LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
  }

 private:
  PrivateCluster& cluster_;
  int at_line_, lines_ = 0;
};

TEST(ServerStore, ShutDownMidRunEndsTheRunWithOneMessageKeepsCommittedLinesAndARerunResumes) {
  KIV_REQUIRE_TEST_SERVER();
  constexpr int kLines = 2000;
  PrivateCluster cluster;
  TempSuite scratch(StoreKind::file, false);
  const SuitePaths paths{scratch.root() + "/school"};
  ASSERT_EQ(store::init_server_suite(paths, cluster.uri()), std::nullopt);
  const auto lines = single_record_school(paths, kLines);

  RecordingOperator op;
  ServerStop stop(cluster, 700);
  const auto r = import::confirm_run({paths, false, paths.staging_file()}, op, &stop);
  EXPECT_EQ(r.outcome, import::RunOutcome::error);
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_TRUE(op.messages[0].text.starts_with("錯誤:")) << op.messages[0].text;
  EXPECT_TRUE(op.messages[0].text.ends_with("(-2147467259)")) << op.messages[0].text;
  EXPECT_GT(r.ok, 0);
  EXPECT_LT(r.ok, 700);
  // The lines of the batch that was open are logged as not written.
  const std::string log = r.log_path ? slurp(*r.log_path) : "";
  for (std::int64_t i = r.ok; i < r.ok + r.errors; ++i) {
    EXPECT_NE(log.find(lines[static_cast<std::size_t>(i)] + "\r\n" + import::log_text::kWriteFailed), std::string::npos)
        << "line " << i + 1 << " is not explained";
  }
  EXPECT_EQ(r.ok + r.errors, 699) << "every line before the stop is posted or logged";

  cluster.start();
  {
    auto db = store::Connection::open(paths);
    EXPECT_EQ(count_rows(db, "KIV8_Payment", "paystas<>0"), r.ok) << "exactly the counted lines are on the server";
  }
  RecordingOperator again;
  const auto rerun = import::confirm_run({paths, false, paths.staging_file()}, again);
  EXPECT_EQ(rerun.outcome, import::RunOutcome::completed);
  EXPECT_EQ(rerun.ok, kLines - r.ok);
  EXPECT_EQ(rerun.errors, 0);
  EXPECT_EQ(rerun.settled, r.ok) << "the run that was cut off is resumed: its posted lines are left alone";
  auto db = store::Connection::open(paths);
  EXPECT_EQ(count_rows(db, "KIV8_Payment", "paystas<>0 AND pay_record='1' AND payday IS NOT NULL"), kLines);
}

// A student number in bytes that are not text (the file is read as bytes) can
// match no record on either store: that line alone is logged, without a box
// of its own, and the run goes on.
TEST_P(Workstations, StudentNumberThatIsNotTextFailsOnlyItsLine) {
  TempSuite suite(store());
  std::vector<std::string> lines = single_record_school(suite.paths(), 6);
  lines[2] = import::format_detail({"0931015", "", "", 152000, "0", "1\xff\xfe\x01", "01", ""});  // the same amount
  std::string content;
  for (const auto& line : lines) content += line + "\r\n";
  const std::string file =
      suite.write_file("in/odd.dat", content + import::format_trailer(6, 915000, 6, 915000) + "\r\n");
  RecordingOperator op;
  const auto r = import::confirm_run({suite.paths(), false, file}, op);
  EXPECT_TRUE(r.outcome == import::RunOutcome::completed && r.ok == 5 && r.errors == 1) << r.ok << " " << r.errors;
  const std::string log = r.log_path ? slurp(*r.log_path) : "";
  EXPECT_NE(log.find(lines[2] + "\r\n" + import::log_text::kNoPaymentRecord), std::string::npos)
      << "logged byte for byte: " << log;
  auto db = suite.open();
  EXPECT_EQ(count_rows(db, "KIV8_Payment", "paystas<>0"), 5);
  for (const auto& m : op.messages) EXPECT_EQ(m.text.find("型態不符合"), std::string::npos) << m.text;
}

}  // namespace
}  // namespace kiv::testing
