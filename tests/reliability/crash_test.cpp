// A run killed at any moment leaves a sound database holding whole lines
// only: exactly what a clean run leaves after some number of lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "child_run.h"
#include "clean_run.h"
#include "json_fields.h"
#include "schools.h"
#include "suite_state.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

using std::chrono::microseconds;

// Kills land anywhere: in the validation pass, between lines, inside a
// line, while a batch is being committed and synced.
constexpr int kKills = 10;

std::string post_file(const std::string& root) {
  return SuitePaths{root}.staging_file();
}

ChildEnd post(const std::string& root, const std::string& scratch, std::optional<microseconds> kill_after = {}) {
  return run_child({{"post", "--root", root, "--json", post_file(root)}, scratch, kill_after, {}, false});
}

// Opens the database as the next run would (a hot journal is rolled back
// here) and checks it is sound.
SuiteState state_after_kill(const std::string& root) {
  auto db = store::Connection::open(SuitePaths{root}.db_path());
  EXPECT_EQ(integrity_check(db), "ok");
  return read_state(db);
}

TEST(CrashSafety, RunKilledAtRandomMomentsLeavesTheDatabaseOfACleanRunStoppedAfterSomeLine) {
  TempSuite scratch(false);
  const std::string& pristine = pristine_demo_school();
  const std::int64_t lines = static_cast<std::int64_t>(detail_lines(post_file(pristine)).size());

  // How long a whole run takes, to spread the kills over it.
  copy_suite(pristine, scratch.root() + "/timed");
  const ChildEnd timed = post(scratch.root() + "/timed", scratch.root());
  ASSERT_EQ(timed.status, 0) << timed.err;
  const double run_seconds = timed.elapsed.count();

  std::vector<SuiteState> targets;
  std::vector<double> delays;
  std::vector<bool> killed;
  for (int seed = 1; seed <= kKills; ++seed) {
    // One kill in each tenth of the run, at a seeded random point in it, so
    // that the kills cover the start-up, the posting and the exit alike.
    std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
    const double within = std::uniform_real_distribution<double>(0.0, 1.0)(random);
    const double delay = (seed - 1 + within) / kKills * run_seconds;
    const std::string root = scratch.root() + "/kill" + std::to_string(seed);
    copy_suite(pristine, root);
    const ChildEnd end = post(root, scratch.root(), microseconds(static_cast<std::int64_t>(delay * 1e6)));
    delays.push_back(delay);
    killed.push_back(end.killed);
    ASSERT_NO_THROW(targets.push_back(state_after_kill(root))) << "the database opens after a kill at " << delay;
  }

  const auto matches = clean_states_matching(pristine, post_file(pristine), targets, scratch.root() + "/clean");
  int interrupted_midway = 0;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    SCOPED_TRACE("kill " + std::to_string(i + 1) + " after " + std::to_string(delays[i]) + " s of " +
                 std::to_string(run_seconds) + " s");
    ASSERT_FALSE(matches[i].empty()) << "a half-posted line or batch: no clean run stopped after any line "
                                     << "leaves this database (" << targets[i].fingerprint << ")";
    const std::int64_t k = matches[i].front();
    if (killed[i] && k > 0 && k < lines) ++interrupted_midway;
    std::printf("[ kill %zu ] at %.3f s of %.3f s: %s, database of a clean run after %lld of %lld lines\n", i + 1,
                delays[i], run_seconds, killed[i] ? "killed" : "had ended", static_cast<long long>(k),
                static_cast<long long>(lines));
  }
  EXPECT_GE(interrupted_midway, 1) << "no kill landed while lines were being posted";
}

// The log of a run: pairs of (detail line, message line).
std::vector<std::pair<std::string, std::string>> log_pairs(const std::string& path) {
  const std::string text = slurp(path);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "the log ends with a whole line";
  std::vector<std::pair<std::string, std::string>> pairs;
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2) pairs.emplace_back(lines[i], lines[i + 1]);
  EXPECT_EQ(lines.size() % 2, 0u);
  return pairs;
}

TEST(CrashSafety, PostingTheSameFileAgainAfterAKillPostsTheRestAndLogsThePostedLinesAsRepeated) {
  constexpr std::int64_t kStudents = 3000;
  TempSuite school;
  const std::string file = school.root() + "/in/post1003.dat";
  std::filesystem::create_directories(school.root() + "/in");
  make_single_record_school(school.paths(), kStudents, file);
  const auto lines = detail_lines(file);
  TempSuite scratch(false);

  // The state a whole clean run leaves, and how long it takes.
  const std::string whole = scratch.root() + "/whole";
  copy_suite(school.root(), whole);
  const ChildEnd clean = run_child({{"post", "--root", whole, "--json", file}, scratch.root(), {}, {}, false});
  ASSERT_EQ(clean.status, 0) << clean.err;
  const SuiteState posted_whole = read_state(SuitePaths{whole}.db_path());

  // Kill a run part of the way through; try other moments if it ended
  // before its first commit or after its last.
  std::string root;
  std::int64_t k = 0;
  for (double fraction : {0.5, 0.35, 0.65, 0.2, 0.8, 0.1}) {
    root = scratch.root() + "/killed" + std::to_string(static_cast<int>(fraction * 100));
    copy_suite(school.root(), root);
    const auto delay = microseconds(static_cast<std::int64_t>(clean.elapsed.count() * fraction * 1e6));
    const ChildEnd end = run_child({{"post", "--root", root, "--json", file}, scratch.root(), delay, {}, false});
    auto db = store::Connection::open(SuitePaths{root}.db_path());
    ASSERT_EQ(integrity_check(db), "ok");
    k = query_int(db, "SELECT count(*) FROM KIV8_Payment WHERE pay_record='1'");
    // Each line is whole: a record written off is written off completely.
    EXPECT_EQ(query_int(db,
                        "SELECT count(*) FROM KIV8_Payment WHERE paystas<>0 AND payway='1' AND "
                        "payday='2004-10-15' AND pay_record='1'"),
              k);
    EXPECT_EQ(query_int(db, "SELECT count(*) FROM KIV8_Payment WHERE paystas<>0 OR payday IS NOT NULL"), k);
    // Lines are posted in file order: the first k students and no others.
    EXPECT_EQ(query_int(db, "SELECT count(*) FROM KIV8_Payment WHERE pay_record='1' AND CAST(stdid AS INTEGER)<" +
                                std::to_string(10000 + k)),
              k);
    if (end.killed && k > 0 && k < kStudents) break;
  }
  std::printf("[ killed ] after %lld of %lld lines were committed\n", static_cast<long long>(k),
              static_cast<long long>(kStudents));
  ASSERT_GT(k, 0) << "no kill landed after a commit";
  ASSERT_LT(k, kStudents) << "no kill landed before the last commit";

  const ChildEnd again = run_child({{"post", "--root", root, "--json", file}, scratch.root(), {}, {}, false});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(json_int(again.out, "ok"), kStudents - k) << again.out;
  EXPECT_EQ(json_int(again.out, "errors"), k) << again.out;
  EXPECT_EQ(json_int(again.out, "failed"), 0) << again.out;
  const auto log = json_text(again.out, "log");
  ASSERT_TRUE(log) << again.out;
  const auto pairs = log_pairs(*log);
  ASSERT_EQ(static_cast<std::int64_t>(pairs.size()), k);
  for (std::int64_t i = 0; i < k; ++i) {
    ASSERT_EQ(pairs[static_cast<std::size_t>(i)].first, lines[static_cast<std::size_t>(i)]) << "log pair " << i;
    ASSERT_TRUE(pairs[static_cast<std::size_t>(i)].second.ends_with(" 重複銷帳 "))
        << pairs[static_cast<std::size_t>(i)].second;
  }
  EXPECT_TRUE(read_state(SuitePaths{root}.db_path()) == posted_whole)
      << "after the second run the school is as one whole clean run leaves it";
}

}  // namespace
}  // namespace kiv::testing
