#include <cstdio>

#include "cli/commands.h"
#include "cli/stream_operator.h"
#include "core/money.h"
#include "import/import_run.h"

namespace kiv::cli {

namespace {

const char* outcome_name(import::RunOutcome outcome) {
  switch (outcome) {
    case import::RunOutcome::completed:
      return "completed";
    case import::RunOutcome::stopped:
      return "stopped";
    case import::RunOutcome::error:
      break;
  }
  return "error";
}

void print_json(const import::RunResult& r, const StreamOperator& op) {
  const bool stopped = r.outcome == import::RunOutcome::stopped;
  std::string out = "{\"outcome\":\"" + std::string(outcome_name(r.outcome)) + "\"";
  out += ",\"lines\":" + std::to_string(stopped ? 0 : r.lines);
  out += ",\"ok\":" + std::to_string(r.ok);
  out += ",\"failed\":" + std::to_string(r.failed);
  out += ",\"errors\":" + std::to_string(r.errors);
  out += ",\"posted_total\":" + std::to_string(r.posted_total());
  out += ",\"log\":" + (r.log_path ? json_string(*r.log_path) : std::string("null"));
  out += ",\"messages\":[";
  for (std::size_t i = 0; i < op.messages().size(); ++i) {
    if (i > 0) out += ",";
    out += json_string(op.messages()[i]);
  }
  out += "]}\n";
  std::fputs(out.c_str(), stdout);
}

void print_text(const import::RunResult& r) {
  if (!r.summary.empty()) {
    std::string summary;
    for (char c : r.summary) {
      if (c != '\r') summary += c;
    }
    std::printf("%s\n\n", summary.c_str());
  }
  if (r.counters_ready) {
    std::printf("銷帳總筆數     %s\n", group_digits(r.lines).c_str());
    std::printf("總金額         %s\n", group_digits(r.posted_total()).c_str());
    std::printf("轉帳成功筆數   %s\n", group_digits(r.ok).c_str());
    std::printf("轉帳不成功筆數 %s\n", group_digits(r.failed).c_str());
    std::printf("銷帳異常筆數   %s\n", group_digits(r.errors).c_str());
  }
  if (r.log_path) std::printf("錯誤記錄檔     %s\n", r.log_path->c_str());
}

}  // namespace

int run_post(const Options& options) {
  if (options.positional.size() != 1) return usage_error(*find_command("post"), "one collection file is needed");
  import::RunRequest request{suite_paths(options), false, options.positional.front()};
  StreamOperator op;
  const import::RunResult result = import::confirm_run(request, op);
  if (options.json) {
    print_json(result, op);
  } else {
    print_text(result);
  }
  switch (result.outcome) {
    case import::RunOutcome::completed:
      return 0;
    case import::RunOutcome::stopped:
      return 1;
    case import::RunOutcome::error:
      break;
  }
  return 2;
}

}  // namespace kiv::cli
