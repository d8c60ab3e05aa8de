// The import run without its journal, for bench/post/run.sh to weigh what
// the journal costs: the same run as `kiv2700 post`, nothing recorded.
//   bench_post_bare ROOT FILE
#include <cstdio>

#include "import/import_run.h"

namespace {

// Says nothing and answers No, as the headless tool does.
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: bench_post_bare ROOT FILE\n", stderr);
    return 2;
  }
  kiv::import::RunRequest request{kiv::SuitePaths{argv[1]}, false, argv[2]};
  request.journal = false;
  QuietOperator op;
  const auto result = kiv::import::confirm_run(request, op);
  std::printf("{\"ok\":%lld,\"errors\":%lld}\n", static_cast<long long>(result.ok),
              static_cast<long long>(result.errors));
  return result.outcome == kiv::import::RunOutcome::completed ? 0 : 2;
}
