#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/journal_report.h"
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

void print_json(const import::RunResult& r, const StreamOperator& op, bool dry_run,
                const std::vector<std::string>* lines) {
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
  out += "]";
  if (r.counters_ready) {
    if (r.run_number != 0) out += ",\"run\":" + std::to_string(r.run_number);
    if (r.resumed_run != 0) {
      out += ",\"resumed\":" + std::to_string(r.resumed_run) + ",\"settled\":" + std::to_string(r.settled);
    }
    out += ",\"balance\":" + balance_json(r.balance);
  }
  if (dry_run) out += ",\"dry_run\":true";
  if (lines != nullptr) {
    out += ",\"line_outcomes\":[";
    for (std::size_t i = 0; i < lines->size(); ++i) {
      if (i > 0) out += ',';
      out += (*lines)[i];
    }
    out += "]";
  }
  out += "}\n";
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
    if (r.resumed_run != 0) {
      std::printf("前次已入帳筆數 %s (續做第 %lld 次執行)\n", group_digits(r.settled).c_str(),
                  static_cast<long long>(r.resumed_run));
    }
    std::printf("\n%s", balance_text(r.balance).c_str());
  }
  if (r.log_path) std::printf("錯誤記錄檔     %s\n", r.log_path->c_str());
  if (r.run_number != 0) std::printf("執行           %lld\n", static_cast<long long>(r.run_number));
}

}  // namespace

int run_post(const Options& options) {
  if (options.positional.size() != 1) return usage_error(*find_command("post"), "one collection file is needed");
  // The journal keeps the file's path for later, read from anywhere.
  std::string file = options.positional.front();
  std::error_code ignored;
  if (!file.empty()) file = std::filesystem::absolute(file, ignored).string();
  import::RunRequest request{suite_paths(options), false, file};
  request.context = tool_context();
  request.dry_run = options.has("--dry-run");
  // Each line's outcome as it becomes final: printed at once, or kept for
  // the JSON object.
  std::vector<std::string> lines;
  if (options.has("--lines")) {
    request.on_line = [&](const journal::LineRecord& line) {
      if (options.json) {
        lines.push_back(line_json(line));
      } else {
        std::printf("%s\n", line_text(line).c_str());
      }
    };
  }
  StreamOperator op(options.has("--again"));
  const import::RunResult result = import::confirm_run(request, op);
  if (options.json) {
    print_json(result, op, request.dry_run, options.has("--lines") ? &lines : nullptr);
  } else {
    if (options.has("--lines")) std::printf("\n");
    print_text(result);
    if (request.dry_run && result.counters_ready) std::printf("(試算:資料庫未變更,未寫錯誤記錄檔)\n");
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
