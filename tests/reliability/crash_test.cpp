#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "../run/run_fixture.h"
#include "child_run.h"
#include "store/statement.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::microseconds;

constexpr int kKills = 10;
constexpr int kLines = 3000;

std::string fingerprint(store::Connection& db) {
  return query_text(
      db,
      "SELECT (SELECT count(*) || ',' || total(paystas) || ',' || count(payday) || ',' || count(failfac) "
      "|| ',' || total(realamt) || ',' || total(Unequal) || ',' || count(unusual) FROM KIV8_Payment) "
      "|| '/' || (SELECT count(*) FROM KIV9_Payitem) || '/' || (SELECT total(PayStas) FROM KIV10_Agency)");
}

std::string rows(store::Connection& db) {
  std::string out;
  for (const std::string table : {"KIV8_Payment", "KIV9_Payitem", "KIV10_Agency"}) {
    std::string row;
    store::Statement columns(db, "PRAGMA table_info(" + table + ")");
    while (columns.step()) row += (row.empty() ? "quote(" : " || '|' || quote(") + columns.text(1) + ")";
    store::Statement all(db, "SELECT " + row + " AS r FROM " + table + " ORDER BY r");
    out += "== " + table + "\n";
    while (all.step()) out += all.text(0) + "\n";
  }
  return out;
}

store::Connection open_sound(const std::string& root) {
  auto db = store::Connection::open_file(SuitePaths{root}.db_path());
  EXPECT_EQ(query_text(db, "PRAGMA integrity_check"), "ok") << root;
  return db;
}

struct Kill {
  std::string root, fingerprint, rows;
  bool killed = false;
  std::int64_t k = -1;
  bool midway() const { return killed && k > 0 && k < kLines; }
};

class Watcher : public import::LineOperations {
 public:
  explicit Watcher(std::vector<Kill>& kills) : kills_(kills) {}
  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    observe(s.db);
    ++lines_;
    return LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
  }
  void observe(store::Connection& db) {
    const std::string now = fingerprint(db);
    std::string all;
    for (Kill& kill : kills_) {
      if (kill.k >= 0 || kill.fingerprint != now) continue;
      if (all.empty()) all = rows(db);
      if (all == kill.rows) kill.k = lines_;
    }
  }

 private:
  std::vector<Kill>& kills_;
  std::int64_t lines_ = 0;
};

std::vector<Kill> kill_runs(const std::string& school, const std::string& file, const std::string& scratch) {
  const auto post = [&](const std::string& root, std::optional<microseconds> kill_after) {
    fs::copy(school, root, fs::copy_options::recursive);
    return run_child({{"post", "--root", root, "--json", file}, kill_after}, scratch);
  };
  const ChildEnd whole = post(scratch + "/whole", {});
  EXPECT_EQ(whole.status, 0) << whole.out;
  std::vector<Kill> kills;
  for (int seed = 1; seed <= kKills; ++seed) {
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    const double at = (seed - 1 + std::uniform_real_distribution<double>(0, 1)(random)) / kKills * whole.seconds;
    const std::string root = scratch + "/kill" + std::to_string(seed);
    const bool killed = post(root, microseconds(static_cast<std::int64_t>(at * 1e6))).killed;
    auto db = open_sound(root);
    kills.push_back({root, fingerprint(db), rows(db), killed});
  }
  Watcher clean(kills);
  fs::copy(school, scratch + "/clean", fs::copy_options::recursive);
  RecordingOperator op;
  EXPECT_EQ(import::confirm_run({SuitePaths{scratch + "/clean"}, false, file}, op, &clean).outcome,
            kiv::import::RunOutcome::completed);
  auto db = store::Connection::open_file(SuitePaths{scratch + "/clean"}.db_path());
  clean.observe(db);
  for (const Kill& kill : kills) {
    EXPECT_GE(kill.k, 0) << kill.root << " holds half a line or batch: " << kill.fingerprint;
    std::printf("[ kill ] %s: as a clean run after %lld lines\n", kill.killed ? "killed" : "had ended",
                static_cast<long long>(kill.k));
  }
  return kills;
}

TEST(CrashSafety, KillsAtSeededMomentsLeaveTheDatabaseOfACleanRunStoppedAfterSomeLine) {
  TempSuite scratch(false);
  const std::string school = scratch.root() + "/school";
  const auto demo = run_tool(scratch.root(), {"demo", "--root", school, "--students", std::to_string(kLines)});
  ASSERT_EQ(demo.status, 0) << demo.err;
  const auto kills = kill_runs(school, SuitePaths{school}.staging_file(), scratch.root());
  EXPECT_TRUE(std::ranges::any_of(kills, &Kill::midway)) << "no kill landed while lines were being posted";
}

std::vector<std::string> single_record_school(const TempSuite& school, int students, const std::string& file) {
  auto db = school.open();
  db.execute(
      "INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 1);"
      "CREATE TEMP TABLE n (i INTEGER)");
  store::Statement(db,
                   "WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i + 1 < ?1) "
                   "INSERT INTO n SELECT i FROM s")
      .bind(1, students)
      .run();
  db.execute(
      "INSERT INTO KIV7_Student (stdid, delmark, grade, clsid, seatno) "
      "SELECT 10000 + i, 0, 1 + i % 6, 1 + i % 4, 1 + i % 40 FROM n;"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) "
      "SELECT 10000 + i, '2004-10-15', 1, 'P' || (10000 + i), 'OF00' || (10000 + i), 1500 + i % 7 * 10, 0 FROM n;"
      "INSERT INTO KIV9_Payitem (stdid, tranday, grpid) SELECT 10000 + i, '2004-10-15', 1 FROM n");
  std::vector<std::string> lines;
  std::string content;
  Cents total = 0;
  for (int i = 0; i < students; ++i) {
    const Cents due = 150000 + i % 7 * 1000;
    lines.push_back(import::format_detail({"0931015", "", "", due, "0", std::to_string(10000 + i), "01", ""}));
    content += lines.back() + "\r\n";
    total += due;
  }
  std::ofstream(file, std::ios::binary) << content << import::format_trailer(students, total, students, total)
                                        << "\r\n";
  return lines;
}

// The journal's lines of the killed run are exactly the lines a clean run
// stopped at the same database posted; posting the file again resumes after
// them, and the two runs together leave what one whole run leaves.
TEST(CrashSafety, PostingAgainAfterAKillResumesAfterTheLinesTheJournalSaysWerePosted) {
  TempSuite school, scratch(false);
  const std::string file = scratch.root() + "/post1003.dat";
  single_record_school(school, kLines, file);
  const auto kills = kill_runs(school.root(), file, scratch.root());
  const auto killed = std::ranges::find_if(kills, &Kill::midway);
  ASSERT_NE(killed, kills.end()) << "no kill landed while lines were being posted";
  for (const Kill& kill : kills) {
    if (kill.k <= 0) continue;
    auto db = open_sound(kill.root);
    const std::string outcome = query_text(db, "SELECT outcome FROM KIV27_Run WHERE run=1");
    EXPECT_TRUE(outcome == "running" || (outcome == "completed" && kill.k == kLines)) << outcome;
    EXPECT_EQ(query_text(db, "SELECT count(*) || ' ' || max(line_no) FROM KIV27_Line WHERE run=1"),
              std::to_string(kill.k) + " " + std::to_string(kill.k))
        << kill.root << ": the journal holds the lines posted, no more, no fewer";
    EXPECT_EQ(query_int(db, "SELECT count(*) FROM KIV27_Line WHERE run=1 AND outcome<>'posted_amount'"), 0);
  }

  RecordingOperator op;
  const auto r = import::confirm_run({SuitePaths{killed->root}, false, file}, op);
  EXPECT_EQ(r.outcome, import::RunOutcome::completed);
  EXPECT_TRUE(op.again_questions.empty()) << "a run that did not complete is resumed without asking";
  EXPECT_EQ(r.resumed_run, 1);
  EXPECT_EQ(r.settled, killed->k);
  EXPECT_EQ(r.ok, kLines - killed->k);
  EXPECT_EQ(r.errors, 0) << "no line the first run settled is logged as repeated";
  EXPECT_FALSE(r.log_path);
  EXPECT_EQ(r.balance.difference(), 0);
  auto twice = open_sound(killed->root), once = open_sound(scratch.root() + "/whole");
  EXPECT_TRUE(rows(twice) == rows(once)) << "after the second run the school is as one whole run leaves it";
}

}  // namespace
}  // namespace kiv::testing
