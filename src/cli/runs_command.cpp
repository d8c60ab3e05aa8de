// kiv2700 runs: the journal's history of import runs, and one run in full.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/journal_report.h"
#include "journal/history.h"
#include "store/db_error.h"

namespace kiv::cli {

namespace {

int runs_usage_error(const std::string& why) {
  return usage_error(*find_command("runs"), why);
}

void list(store::Connection& db, bool json) {
  const auto runs = journal::list_runs(db);
  if (json) {
    std::string out = "[";
    for (std::size_t i = 0; i < runs.size(); ++i) {
      if (i > 0) out += ',';
      out += run_json(runs[i]);
    }
    std::printf("%s]\n", out.c_str());
    return;
  }
  std::printf("%5s  %-19s  %-24s  %7s %7s %7s %7s %7s  %-28s  %s\n", "run", "started", "operator", "lines", "ok",
              "failed", "errors", "settled", "outcome", "file");
  for (const auto& run : runs) std::printf("%s\n", run_line_text(run).c_str());
}

int show(store::Connection& db, std::int64_t number, const Options& options) {
  const auto run = journal::find_run(db, number);
  if (!run) {
    std::fprintf(stderr, "kiv2700 runs: 沒有第 %lld 次執行\n", static_cast<long long>(number));
    return 1;
  }
  const bool post = run->kind == journal::kPostRun;
  const journal::Balance balance = post ? journal::run_balance(db, *run) : journal::Balance{};
  if (options.json) {
    std::string out = run_json(*run);
    out.pop_back();
    if (post) out += ",\"balance\":" + balance_json(balance);
    if (options.has("--lines")) {
      out += ",\"line_outcomes\":[";
      bool first = true;
      journal::for_each_line(db, number, [&](const journal::LineRecord& line) {
        if (!first) out += ',';
        out += line_json(line);
        first = false;
      });
      out += "]";
    }
    std::printf("%s}\n", out.c_str());
    return 0;
  }
  std::printf("%s", run_text(*run).c_str());
  if (post) {
    // A run that did not complete recorded only the lines it settled: the
    // rest were not reached.
    std::printf("\n%s", balance_text(balance).c_str());
  }
  if (options.has("--lines")) {
    std::printf("\n");
    std::int64_t last = 0;
    journal::for_each_line(db, number, [&](const journal::LineRecord& line) {
      std::printf("%s\n", line_text(line).c_str());
      last = line.line_no;
    });
    if (post && !run->completed() && last < run->lines) {
      const std::int64_t first = last + 1;
      std::printf("第 %lld 至 %lld 筆未處理 (執行未完成)\n", static_cast<long long>(first),
                  static_cast<long long>(run->lines));
    }
  }
  return 0;
}

}  // namespace

int run_runs(const Options& options) {
  const auto& words = options.positional;
  std::int64_t number = 0;
  if (!words.empty()) {
    if (words[0] != "show" || words.size() != 2) return runs_usage_error("unknown arguments");
    try {
      std::size_t used = 0;
      number = std::stoll(words[1], &used);
      if (used != words[1].size() || number < 1) return runs_usage_error("RUN is a run's number");
    } catch (const std::exception&) {
      return runs_usage_error("RUN is a run's number");
    }
  }
  try {
    auto db = store::Connection::open(suite_paths(options));
    if (words.empty()) {
      list(db, options.json);
      return 0;
    }
    return show(db, number, options);
  } catch (const store::DbError& e) {
    std::fprintf(stderr, "%s\n", standard_error_text(e.error()).c_str());
    return 2;
  }
}

}  // namespace kiv::cli
