// The import run for bench/post/run.sh: with its journal, or without it
// (--bare) to weigh what the journal costs; --commit-ms N lengthens how long
// a batch may stay open, so that under an instruction counter, which slows
// the run many times over, the batches are as large as in a real run.
//   bench_post_run [--bare] [--commit-ms N] ROOT FILE
#include <cstdio>
#include <cstdlib>
#include <string>

#include "import/import_run.h"

namespace {

// Says nothing and answers as the headless tool does; posts a file again.
class QuietOperator : public kiv::Operator {
 public:
  void show_message(const std::string&, kiv::MessageIcon, const std::string&) override {}
  bool ask_yes_no(const std::string&) override { return false; }
  bool confirm_post_again(const std::string&) override { return true; }
  std::optional<std::string> choose_file(const std::string&, const std::string&) override { return std::nullopt; }
  void show_progress(std::int64_t, std::int64_t) override {}
  void pump_events() override {}
  std::string start_program(const std::string&, const std::vector<std::string>&) override { return "no"; }
  std::string open_document(const std::string&) override { return "no"; }
};

int usage() {
  std::fputs("usage: bench_post_run [--bare] [--commit-ms N] ROOT FILE\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool bare = false;
  int commit_ms = -1;  // the run's own interval
  int i = 1;
  for (; i < argc && std::string(argv[i]).starts_with("--"); ++i) {
    const std::string option = argv[i];
    if (option == "--bare") {
      bare = true;
    } else if (option == "--commit-ms" && i + 1 < argc) {
      commit_ms = std::atoi(argv[++i]);
    } else {
      return usage();
    }
  }
  if (argc - i != 2) return usage();
  kiv::import::RunRequest request{kiv::SuitePaths{argv[i]}, false, argv[i + 1]};
  request.journal = !bare;
  if (commit_ms >= 0) request.commit_interval_ms = commit_ms;
  request.context = {"bench", "", ""};
  QuietOperator op;
  const auto result = kiv::import::confirm_run(request, op);
  std::printf("{\"ok\":%lld,\"errors\":%lld}\n", static_cast<long long>(result.ok),
              static_cast<long long>(result.errors));
  return result.outcome == kiv::import::RunOutcome::completed ? 0 : 2;
}
