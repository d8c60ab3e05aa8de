// The kill soak (kill_soak.sh beside it runs it; too long for CI):
// kiv2700 posts a demo school's collection file again and again and is
// killed at a random moment each time. After each kill the database must
// pass integrity_check, must equal a clean run stopped after k whole lines
// (found by which students' rows the kill left changed, then built by
// posting only the first k lines), and a run of the whole file again must
// complete it into the state one whole run leaves.
//   kill_soak [--kills N] [--students N] [--seed N] [--dir DIR]
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/paths.h"
#include "fault_harness.h"
#include "import/collection_file.h"
#include "import_sweep.h"
#include "store/connection.h"

namespace {

namespace fs = std::filesystem;
using namespace kiv;
using namespace kiv::testing;

struct Options {
  int kills = 200;
  int students = 30000;
  unsigned seed = 1;
  std::string dir;
};

struct ChildEnd {
  bool killed = false;
  int status = -1;
  double seconds = 0;
};

// kiv2700 with these arguments, killed after `kill_after` if given.
ChildEnd run_child(std::vector<std::string> args, std::optional<std::chrono::microseconds> kill_after,
                   const std::string& scratch) {
  args.insert(args.begin(), KIV_CLI_PATH);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string out_path = scratch + "/child_out.txt";
  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (kill_after) {
    std::this_thread::sleep_until(started + *kill_after);
    kill(pid, SIGKILL);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ChildEnd end;
  end.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  end.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  end.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return end;
}

// The students whose payment records or items differ between the database
// and the school it started as.
std::set<std::string> students_changed(const std::string& db_path, const std::string& school_db) {
  sweep::DiskDb db(db_path);
  char* attach = sqlite3_mprintf("ATTACH DATABASE %Q AS school KEY %Q", school_db.c_str(), store::kSuitePassword);
  db.exec(attach);
  sqlite3_free(attach);
  std::set<std::string> changed;
  sqlite3_stmt* st = nullptr;
  const char* sql =
      "SELECT stdid FROM (SELECT * FROM main.KIV8_Payment EXCEPT SELECT * FROM school.KIV8_Payment) "
      "UNION SELECT stdid FROM (SELECT * FROM school.KIV8_Payment EXCEPT SELECT * FROM main.KIV8_Payment) "
      "UNION SELECT stdid FROM (SELECT * FROM main.KIV9_Payitem EXCEPT SELECT * FROM school.KIV9_Payitem) "
      "UNION SELECT stdid FROM (SELECT * FROM school.KIV9_Payitem EXCEPT SELECT * FROM main.KIV9_Payitem)";
  if (sqlite3_prepare_v2(db.handle(), sql, -1, &st, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sqlite3_errmsg(db.handle()));
  }
  while (sqlite3_step(st) == SQLITE_ROW) changed.emplace(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  return changed;
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    if (name == "--kills") o.kills = std::atoi(argv[i + 1]);
    if (name == "--students") o.students = std::atoi(argv[i + 1]);
    if (name == "--seed") o.seed = static_cast<unsigned>(std::atoi(argv[i + 1]));
    if (name == "--dir") o.dir = argv[i + 1];
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  std::string scratch = o.dir;
  if (scratch.empty()) {
    scratch = (fs::temp_directory_path() / "kiv-kill-soak-XXXXXX").string();
    if (mkdtemp(scratch.data()) == nullptr) return 2;
  }
  fs::create_directories(scratch);
  const auto work = sweep::ImportWork::demo(scratch, o.students);
  const std::string school_db = SuitePaths{work.school}.db_path();
  std::map<std::string, std::size_t> line_of;
  for (std::size_t j = 0; j < work.lines.size(); ++j) line_of.try_emplace(import::cut_detail(work.lines[j]).stdid, j);

  const auto post = [&](const std::string& root, const std::string& file, std::optional<std::chrono::microseconds> at) {
    return run_child({"post", "--root", root, "--json", file}, at, scratch);
  };
  const std::string whole_root = scratch + "/whole";
  work.copy_school(whole_root);
  const ChildEnd whole = post(whole_root, work.file, {});
  if (whole.status != 0) {
    std::printf("the whole run did not complete\n");
    return 2;
  }
  const std::string once = sweep::school_dump(SuitePaths{whole_root}.db_path());
  const std::string untouched = sweep::school_dump(school_db);
  std::printf("%zu lines, a whole run takes %.2f s; %d kills, seed %u, in %s\n", work.lines.size(), whole.seconds,
              o.kills, o.seed, scratch.c_str());

  std::mt19937 random(o.seed);
  int killed = 0, ended = 0, sound = 0, prefix = 0, rerun = 0, midway = 0;
  const auto started = std::chrono::steady_clock::now();
  const std::string root = scratch + "/killed", clean_root = scratch + "/clean", first_k = scratch + "/first_k.dat";
  // A kill that comes after the run has ended is checked too, but only kills
  // that stop a running program count towards the number asked for.
  int i = 0;
  while (killed < o.kills && i < 2 * o.kills) {
    ++i;
    const double at = std::uniform_real_distribution<double>(0, whole.seconds)(random);
    work.copy_school(root);
    const ChildEnd end = post(root, work.file, std::chrono::microseconds(static_cast<std::int64_t>(at * 1e6)));
    (end.killed ? killed : ended) += 1;
    const std::string db = SuitePaths{root}.db_path();
    std::string verdict = sweep::integrity(db);
    const bool is_sound = verdict == "ok";
    sound += is_sound ? 1 : 0;

    std::size_t k = 0;
    for (const std::string& id : students_changed(db, school_db)) {
      if (const auto found = line_of.find(id); found != line_of.end()) k = std::max(k, found->second + 1);
    }
    std::string expected = untouched;
    if (k > 0) {
      work.copy_school(clean_root);
      work.write_first_lines(first_k, k);
      if (post(clean_root, first_k, {}).status != 0) verdict += "; the first k lines did not post";
      expected = sweep::school_dump(SuitePaths{clean_root}.db_path());
    }
    const std::string state = sweep::school_dump(db);
    const bool is_prefix = state == expected;
    prefix += is_prefix ? 1 : 0;
    midway += is_prefix && k > 0 && k < work.lines.size() ? 1 : 0;
    if (!is_prefix)
      verdict +=
          "; not a clean run's after " + std::to_string(k) + " lines:\n" + sweep::dump_difference(expected, state);

    // A killed run is resumed by the next; one that had ended is refused.
    const ChildEnd again = post(root, work.file, {});
    const bool completes =
        again.status == (end.killed ? 0 : 1) && sweep::integrity(db) == "ok" && sweep::school_dump(db) == once;
    rerun += completes ? 1 : 0;
    if (!completes) verdict += "; running the file again did not end as one whole run";
    std::printf("kill %3d at %6.3f s: %s, k = %5zu, %s\n", i, at, end.killed ? "killed" : "had ended", k,
                verdict.c_str());
    std::fflush(stdout);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf(
      "%d runs: %d killed while running, %d had ended; %d stopped midway through the lines; %d sound, "
      "%d a clean run's after whole lines, %d completed by a run again; %.0f s\n",
      i, killed, ended, midway, sound, prefix, rerun, seconds);
  if (o.dir.empty()) fs::remove_all(scratch);
  return sound == i && prefix == i && rerun == i && killed == o.kills ? 0 : 1;
}
