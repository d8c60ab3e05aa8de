#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "child_run.h"
#include "fault_harness.h"
#include "fault_vfs.h"
#include "import_sweep.h"
#include "run_fixture.h"
#include "store/compaction.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

namespace fs = std::filesystem;
using namespace sweep;

constexpr int kStudents = 300;

ImportWork work_with_detours(const std::string& scratch) {
  ImportWork work = ImportWork::demo(scratch, kStudents);
  work.add_detours(CleanRun::learn(work, scratch + "/plain"));
  return work;
}

// The school, its file and what a clean run does with it, made once for
// every test here.
struct Prepared {
  TempSuite scratch{false};
  ImportWork work = work_with_detours(scratch.root());
  CleanRun clean = CleanRun::learn(work, scratch.root() + "/clean");
};

Prepared& prepared() {
  static Prepared p;
  return p;
}

// A line posted again by a run of another file finds its records written off
// and changes nothing, except a record that its own insert created: that one
// is there for the next run to write off.
bool posted_twice(const LineFacts& line) {
  return line.road.ends_with("insert_1 (new record)");
}

TEST(FaultSweep, PostingALineAgainAfterItWasPostedLeavesItsRecordsAsOnceExceptARecordTheInsertCreated) {
  Prepared& p = prepared();
  std::map<std::string, std::size_t> first;
  for (std::size_t j = 0; j < p.clean.lines.size(); ++j) {
    first.try_emplace(p.clean.lines[j].road + " " + p.clean.lines[j].stand_in, j);
  }
  const std::string root = p.scratch.root() + "/again";
  const std::string prefix = p.scratch.root() + "/prefix.dat", single = p.scratch.root() + "/single.dat";
  int changed = 0;
  for (const auto& [road, j] : first) {
    SCOPED_TRACE(road);
    const LineFacts& line = p.clean.lines[j];
    p.work.copy_school(root);
    p.work.write_first_lines(prefix, j + 1);
    ASSERT_EQ(post(root, prefix, *p.work.operations).result.outcome, import::RunOutcome::completed);
    const std::string once = school_dump(SuitePaths{root}.db_path());
    const auto k = p.clean.states.find(once);
    ASSERT_TRUE(k && k->first <= static_cast<std::int64_t>(j) + 1 && static_cast<std::int64_t>(j) + 1 <= k->second)
        << "the first lines of the file alone post as in the whole file";
    write_collection(single, {line.raw});
    EXPECT_EQ(post(root, single, *p.work.operations, true).result.outcome, import::RunOutcome::completed);
    const std::string twice = school_dump(SuitePaths{root}.db_path());
    EXPECT_EQ(once == twice, !posted_twice(line));
    if (once != twice) {
      ++changed;
      std::printf("[ again ] posted twice: %s\n%s", road.c_str(), dump_difference(once, twice, 4).c_str());
    }
  }
  std::printf("[ again ] %zu kinds of line, %d written again by a second run\n", first.size(), changed);
}

void expect_no_problems(const Tally& tally, const std::string& title, std::chrono::steady_clock::time_point started) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%s", tally.report(title, seconds).c_str());
  std::string first_problems;
  for (const auto& problem : tally.first_problems) first_problems += problem + "\n";
  EXPECT_EQ(tally.problems, 0) << first_problems;
  EXPECT_GE(tally.injected * 10, tally.runs * 9) << "nearly every planned call is made and failed";
}

// Syncs skip the disk while a sweep runs, and reach it again after.
struct NoWaitingOnTheDisk {
  NoWaitingOnTheDisk() {
    fault::install();
    fault::sync_to_disk(false);
  }
  ~NoWaitingOnTheDisk() { fault::sync_to_disk(true); }
};

TEST(FaultSweep, ImportRunWithAnyFileCallFailingStopsAfterWholeLinesExplainsTheRestAndCanBeRunAgain) {
  const NoWaitingOnTheDisk quick;
  Prepared& p = prepared();
  const CleanRun& clean = p.clean;
  const auto all = static_cast<std::int64_t>(clean.lines.size());
  const import::RunResult counted = clean.counted(all);
  ASSERT_EQ(counted.ok, clean.ending.result.ok);
  ASSERT_EQ(counted.failed, clean.ending.result.failed);
  ASSERT_EQ(counted.errors, clean.ending.result.errors);
  ASSERT_EQ(counted.posted_cents, clean.ending.result.posted_cents);

  const std::string root = p.scratch.root() + "/run";
  p.work.copy_school(root);
  fault::arm();
  const Ending counting = post(root, p.work);
  const fault::Counts counts = fault::disarm();
  ASSERT_EQ(counting.result.outcome, import::RunOutcome::completed);
  const auto faults = plan(counts, budget_from_environment("KIV_FAULT_SWEEP", 500, 60));
  std::printf("[ sweep ] calls of one clean run of %lld lines: %s\n", static_cast<long long>(all),
              describe(counts).c_str());

  Tally tally;
  const auto started = std::chrono::steady_clock::now();
  for (const fault::Fault& f : faults) {
    p.work.copy_school(root);
    fault::arm(f);
    const Ending e = post(root, p.work);
    fault::disarm();
    const bool injected = fault::injected() > 0;
    const bool completed = e.result.outcome == import::RunOutcome::completed;
    ++tally.runs;
    tally.injected += injected ? 1 : 0;
    ++(completed ? tally.ended_cleanly : tally.ended_in_error);
    std::string problem;
    if (!completed) {
      const auto number = e.messages.empty() ? std::nullopt : reported_number(e.messages.back().text);
      ++tally.notes[std::string(fault::name(f.call)) + " failing, reported (" +
                    (number ? std::to_string(*number) : "none") + ")"];
      if (!injected) problem = "ended in error with no call failed";
    }
    std::optional<std::pair<std::int64_t, std::int64_t>> range;
    if (problem.empty()) problem = check_sound(root);
    if (problem.empty()) problem = check_clean_prefix(root, clean, range);
    if (problem.empty()) problem = check_ending(e, clean, root);
    const std::int64_t k = range ? std::min(range->second, e.reached) : 0;
    if (problem.empty() && !completed) {
      problem = check_explained(e, clean, k);
      const std::string& current = clean.lines[static_cast<std::size_t>(std::max<std::int64_t>(e.reached, 1) - 1)].raw;
      const bool logged = std::ranges::any_of(e.log, [&](const LogEntry& entry) { return entry.first == current; });
      if (e.reached > k && !logged) ++tally.notes["the line being posted explained by the message alone"];
    }
    // A run that completed is the clean run (checked above); running its file
    // again would be posting it again, which is another matter.
    if (problem.empty() && !completed) {
      problem = check_rerun_completes(root, p.work, clean);
    }
    if (!problem.empty()) tally.problem(f, problem);
  }
  expect_no_problems(tally, "import run", started);
}

// kiv2700 itself, unchanged, with the fault layer preloaded.
struct ToolEnd {
  ToolRun run;
  fault::Counts counts{};
  std::int64_t injected = 0;
};

ToolEnd run_tool_with(const std::string& scratch, const std::vector<std::string>& args, std::optional<fault::Fault> f) {
  const std::string counts_path = scratch + "/fault_counts.txt";
  fs::remove(counts_path);
  std::string asan = std::getenv("ASAN_OPTIONS") != nullptr ? std::getenv("ASAN_OPTIONS") : "";
  // The preloaded object comes before the sanitizer's runtime in the list
  // of libraries, which the sanitizer otherwise refuses.
  asan += std::string(asan.empty() ? "" : ":") + "verify_asan_link_order=0";
  const std::map<std::string, std::string> env = {{"LD_PRELOAD", KIV_FAULT_PRELOAD},
                                                  {"KIV_FAULT_COUNTS", counts_path},
                                                  {"KIV_FAULT_NO_DISK_SYNC", "1"},
                                                  {"ASAN_OPTIONS", asan}};
  std::map<std::string, std::optional<std::string>> saved;
  for (const auto& [name, value] : env) {
    const char* old = std::getenv(name.c_str());
    saved[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    setenv(name.c_str(), value.c_str(), 1);
  }
  if (f) setenv("KIV_FAULT", fault::spec(*f).c_str(), 1);
  ToolEnd end;
  end.run = run_tool(scratch, args);
  unsetenv("KIV_FAULT");
  for (const auto& [name, value] : saved) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
  std::ifstream in(counts_path);
  std::string kind;
  for (std::int64_t n = 0; in >> kind >> n;) {
    if (const auto call = fault::call_named(kind)) end.counts[static_cast<std::size_t>(*call)] = n;
    if (kind == "injected") end.injected = n;
  }
  return end;
}

// What the tool printed and left, against a clean run of the same work.
std::string check_tool_end(const ToolEnd& end, const std::string& root, const CleanRun& clean) {
  const std::string& json = end.run.out;
  const std::string outcome = json_field(json, "outcome");
  auto messages = json_strings(json_field(json, "messages"));
  std::vector<std::string> clean_texts;
  for (const auto& m : clean.ending.messages) clean_texts.push_back(m.text);
  // The question about the log names the log's path, which is the run's own.
  const auto question = [](const std::string& text) { return text.substr(0, text.find("是否立刻查看")); };
  for (const auto& q : clean.ending.questions) clean_texts.push_back(question(q));
  if (!messages.empty() && messages.back().starts_with("共 ")) messages.back() = question(messages.back());
  if (std::string problem = check_sound(root); !problem.empty()) return problem;
  std::optional<std::pair<std::int64_t, std::int64_t>> range;
  if (std::string problem = check_clean_prefix(root, clean, range); !problem.empty()) return problem;
  if (end.run.status == 0) {
    if (outcome != "completed" || messages != clean_texts) return "exit 0, but not as the clean run: " + json;
    if (range->second != static_cast<std::int64_t>(clean.lines.size())) return "exit 0 with lines not posted";
    return "";
  }
  if (end.run.status != 2 || outcome != "error") {
    return "exit " + std::to_string(end.run.status) + ", outcome " + outcome + end.run.err;
  }
  if (messages.empty()) return "exit 2 without a message";
  const auto number = reported_number(messages.back());
  if (!number || !environmental(*number)) {
    return "exit 2, the last message is not the standard one of a failing machine: " + messages.back();
  }
  if (messages.size() - 1 > clean_texts.size() ||
      !std::equal(messages.begin(), messages.end() - 1, clean_texts.begin())) {
    return "exit 2 after other messages than the clean run showed";
  }
  const import::RunResult counted = clean.counted(range->first);
  if (json_field(json, "ok") != std::to_string(counted.ok) ||
      json_field(json, "failed") != std::to_string(counted.failed)) {
    return "exit 2 with counters that are not the posted lines': " + json;
  }
  return "";
}

TEST(FaultSweep, ToolWithAFileCallFailingExitsTwoWithOneMessageOrCompletesAsACleanRun) {
  Prepared& p = prepared();
  // The tool has no stand-in lookups: its own clean run is learnt first.
  ImportWork work = p.work;
  work.operations = std::make_shared<import::LineOperations>();
  const CleanRun clean = CleanRun::learn(work, p.scratch.root() + "/tool-clean");
  const std::string root = p.scratch.root() + "/tool";
  const std::vector<std::string> args = {"post", "--root", root, "--json", work.file};
  work.copy_school(root);
  const ToolEnd counting = run_tool_with(p.scratch.root(), args, std::nullopt);
  ASSERT_EQ(counting.run.status, 0) << counting.run.out << counting.run.err;
  const auto faults = plan(counting.counts, budget_from_environment("KIV_FAULT_SWEEP_TOOL", 100, 20));
  std::printf("[ sweep ] calls of kiv2700 post: %s\n", describe(counting.counts).c_str());

  Tally tally;
  const auto started = std::chrono::steady_clock::now();
  for (const fault::Fault& f : faults) {
    work.copy_school(root);
    const ToolEnd end = run_tool_with(p.scratch.root(), args, f);
    ++tally.runs;
    tally.injected += end.injected > 0 ? 1 : 0;
    ++(end.run.status == 0 ? tally.ended_cleanly : tally.ended_in_error);
    if (end.run.status == 2) ++tally.notes["exit 2"];
    if (std::string problem = check_tool_end(end, root, clean); !problem.empty()) tally.problem(f, problem);
  }
  expect_no_problems(tally, "kiv2700 post", started);
}

TEST(FaultSweep, CompactionWithAnyFileCallFailingKeepsEveryRowAndSaysSoOnce) {
  const NoWaitingOnTheDisk quick;
  Prepared& p = prepared();
  // The school after a whole run, with an interrupted earlier compaction's
  // leftovers beside it, so that both of its steps are swept.
  const std::string school = p.scratch.root() + "/compact-school", root = p.scratch.root() + "/compact";
  const SuitePaths paths{root};
  fs::copy(p.scratch.root() + "/clean", school, fs::copy_options::recursive);
  for (const char* name : {store::kCompactedCopyName, store::kBackupCopyName}) {
    std::ofstream(school + "/mdb/" + name) << "left behind";
  }
  const std::string rows = dump_file(SuitePaths{school}.db_path(), false);
  const auto compact = [&](std::optional<fault::Fault> f, RecordingOperator& op) {
    fs::remove_all(root);
    fs::copy(school, root, fs::copy_options::recursive);
    fault::arm(f);
    auto error = store::compress_mdb(paths, op);
    fault::disarm();
    return error;
  };
  RecordingOperator counting_op;
  ASSERT_FALSE(compact(std::nullopt, counting_op));
  const fault::Counts counts = fault::counts();
  const auto faults = plan(counts, budget_from_environment("KIV_FAULT_SWEEP_COMPACT", 100, 25));
  std::printf("[ sweep ] calls of one compaction: %s\n", describe(counts).c_str());

  Tally tally;
  const auto started = std::chrono::steady_clock::now();
  for (const fault::Fault& f : faults) {
    RecordingOperator op;
    const auto error = compact(f, op);
    ++tally.runs;
    tally.injected += fault::injected() > 0 ? 1 : 0;
    ++(error ? tally.ended_in_error : tally.ended_cleanly);
    std::string problem = check_sound(root);
    if (problem.empty() && dump_file(paths.db_path(), false) != rows) problem = "rows changed";
    // A leftover may be the only good copy until a compaction has succeeded.
    if (problem.empty() && error &&
        !(fs::exists(root + "/mdb/" + store::kCompactedCopyName) &&
          fs::exists(root + "/mdb/" + store::kBackupCopyName))) {
      problem = "a leftover went although the compaction failed";
    }
    if (problem.empty() && op.messages.size() != (error ? 1u : 0u)) {
      problem = std::to_string(op.messages.size()) + " messages";
    }
    if (problem.empty() && error) {
      const auto number = reported_number(op.messages[0].text);
      if (!number || !environmental(*number)) problem = "not the message of a failing machine: " + op.messages[0].text;
      ++tally.notes[std::string(fault::name(f.call)) + " failing, reported (" +
                    (number ? std::to_string(*number) : "none") + ")"];
    }
    if (problem.empty()) {
      RecordingOperator again;
      if (store::compress_mdb(paths, again) || check_sound(root) != "" || dump_file(paths.db_path(), false) != rows) {
        problem = "compacting again did not end with every row whole";
      }
    }
    if (!problem.empty()) tally.problem(f, problem);
  }
  expect_no_problems(tally, "compaction", started);
}

TEST(FileFaults, CommitThatCannotLetGoOfTheLockCountsItsLinesAsPostedAndLogsNoneAsLost) {
  RunFixture f;
  for (const char* id : {"10001", "10002", "10003"}) {
    f.student_with_record(id, "100");
    f.detail(id, 10000);
  }
  const std::string file = f.write();
  fault::install();
  // Reading lets go of its lock without a word; the commit's letting go is
  // the first to fail.
  fault::arm(fault::Fault{fault::Call::unlock, 1, fault::Failure::io_error, true});
  RecordingOperator op;
  const auto r = import::confirm_run({f.suite.paths(), false, file}, op);
  fault::disarm();
  EXPECT_EQ(r.outcome, import::RunOutcome::error);
  EXPECT_EQ(r.ok, 3);
  EXPECT_EQ(r.errors, 0);
  EXPECT_FALSE(r.log_path) << "posted lines are not logged as lost";
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_TRUE(op.messages[0].text.ends_with("(2058)")) << op.messages[0].text;
  EXPECT_EQ(f.rows("SELECT count(*) FROM KIV8_Payment WHERE paystas<>0"), "3");
}

}  // namespace
}  // namespace kiv::testing
