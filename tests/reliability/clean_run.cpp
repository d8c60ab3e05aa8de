#include "clean_run.h"

#include <fstream>
#include <optional>
#include <stdexcept>

#include "import/collection_file.h"
#include "import/collection_writer.h"
#include "recording_operator.h"

namespace kiv::testing {

namespace {

// Looks at the database at the start of every detail line (the first thing
// a line does is the payment lookup), when the lines before it are settled.
class StateWatcher : public import::LineOperations {
 public:
  explicit StateWatcher(const std::vector<SuiteState>& targets) : targets_(targets), matches(targets.size()) {}

  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    observe(s.db);
    ++lines_before_;
    return LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
  }

  void observe(store::Connection& db) {
    const std::string fingerprint = state_fingerprint(db);
    std::optional<std::string> dump;
    for (std::size_t i = 0; i < targets_.size(); ++i) {
      if (targets_[i].fingerprint != fingerprint) continue;
      if (!dump) dump = canonical_dump(db);
      if (*dump == targets_[i].dump) matches[i].push_back(lines_before_);
    }
  }

  std::int64_t lines_seen() const { return lines_before_; }

 private:
  const std::vector<SuiteState>& targets_;
  std::int64_t lines_before_ = 0;

 public:
  std::vector<std::vector<std::int64_t>> matches;
};

}  // namespace

std::vector<std::vector<std::int64_t>> clean_states_matching(const std::string& pristine_root, const std::string& file,
                                                             const std::vector<SuiteState>& targets,
                                                             const std::string& scratch_root) {
  copy_suite(pristine_root, scratch_root);
  StateWatcher watcher(targets);
  RecordingOperator op;
  const auto result = import::confirm_run({SuitePaths{scratch_root}, false, file}, op, &watcher);
  if (result.outcome != import::RunOutcome::completed) throw std::runtime_error("the clean run did not complete");
  auto db = store::Connection::open(SuitePaths{scratch_root}.db_path());
  watcher.observe(db);  // after the last line
  return watcher.matches;
}

void write_truncated_file(const std::string& file, std::int64_t k, const std::string& out_path) {
  Error error;
  auto reader = import::CollectionReader::open(file, error);
  if (!reader) throw std::runtime_error(error.description);
  std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
  std::int64_t taken = 0;
  Cents file_amt = 0, posted_amt = 0;
  std::int64_t posted_cnt = 0;
  while (taken < k) {
    const auto line = reader->next();
    if (!line || import::record_kind(*line) != import::RecordKind::detail) break;
    out << *line << "\r\n";
    ++taken;
    const Cents amount = import::detail_amount(*line);
    file_amt += amount;
    if (!import::detail_transfer_failed(*line)) {
      ++posted_cnt;
      posted_amt += amount;
    }
  }
  out << import::format_trailer(taken, file_amt, posted_cnt, posted_amt) << "\r\n";
  if (!out) throw std::runtime_error("cannot write " + out_path);
}

RunResult clean_run_of_first_lines(const std::string& pristine_root, const std::string& file, std::int64_t k,
                                   const std::string& scratch_root) {
  copy_suite(pristine_root, scratch_root);
  const std::string truncated = scratch_root + "/first_lines.dat";
  write_truncated_file(file, k, truncated);
  RecordingOperator op;
  return import::confirm_run({SuitePaths{scratch_root}, false, truncated}, op);
}  // namespace kiv::testing

}  // namespace kiv::testing
