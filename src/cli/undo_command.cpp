// kiv2700 undo: takes a run back, as the journal recorded it.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/journal_report.h"
#include "journal/undo.h"
#include "store/db_error.h"

namespace kiv::cli {

namespace {

using Status = journal::UndoResult::Status;

std::string refusal_text(const journal::UndoResult& r, std::int64_t run) {
  switch (r.status) {
    case Status::no_such_run:
      return "沒有第 " + std::to_string(run) + " 次執行";
    case Status::already_undone:
      return "第 " + std::to_string(run) + " 次執行已由第 " + std::to_string(r.undone_by) + " 次執行復原";
    case Status::not_a_post:
      return "第 " + std::to_string(run) + " 次執行是一次復原,不能再復原;請重新入帳";
    case Status::refused:
      return "第 " + std::to_string(run) + " 次執行之後,下列資料列已被變更,未做任何復原:";
    case Status::undone:
      break;
  }
  return {};
}

void print_json(const journal::UndoResult& r, std::int64_t run) {
  std::string out = "{\"outcome\":";
  out += r.status == Status::undone ? "\"undone\"" : "\"refused\"";
  out += ",\"run\":" + std::to_string(run);
  if (r.status == Status::undone) {
    out += ",\"undo_run\":" + std::to_string(r.undo_run) + ",\"deleted\":" + std::to_string(r.deleted) +
           ",\"updated\":" + std::to_string(r.updated) + ",\"restored\":" + std::to_string(r.restored);
  } else {
    out += ",\"reason\":" + json_string(refusal_text(r, run));
  }
  out += ",\"conflicts\":[";
  for (std::size_t i = 0; i < r.conflicts.size(); ++i) {
    const auto& c = r.conflicts[i];
    if (i > 0) out += ',';
    out += "{\"table\":" + json_string(c.table) + ",\"rowid\":" + std::to_string(c.rowid) +
           ",\"expected\":" + json_string(c.expected) + ",\"found\":" + json_string(c.found) +
           ",\"reason\":" + json_string(c.reason) + "}";
  }
  std::printf("%s]}\n", out.c_str());
}

void print_text(const journal::UndoResult& r, std::int64_t run) {
  if (r.status == Status::undone) {
    std::printf("第 %lld 次執行已復原 (第 %lld 次執行): 刪除 %lld 列,還原 %lld 列,補回 %lld 列\n",
                static_cast<long long>(run), static_cast<long long>(r.undo_run), static_cast<long long>(r.deleted),
                static_cast<long long>(r.updated), static_cast<long long>(r.restored));
    return;
  }
  std::fprintf(stderr, "%s\n", refusal_text(r, run).c_str());
  for (const auto& c : r.conflicts) {
    std::fprintf(stderr, "  %s rowid %lld\n", c.table.c_str(), static_cast<long long>(c.rowid));
    if (!c.reason.empty()) std::fprintf(stderr, "    無法補回: %s\n", c.reason.c_str());
    if (!c.expected.empty()) std::fprintf(stderr, "    執行後: %s\n", c.expected.c_str());
    if (c.reason.empty()) std::fprintf(stderr, "    現在:   %s\n", c.found.empty() ? "(已不存在)" : c.found.c_str());
  }
}

}  // namespace

int run_undo(const Options& options) {
  std::int64_t run = 0;
  if (options.positional.size() == 1) {
    const std::string& word = options.positional.front();
    try {
      std::size_t used = 0;
      run = std::stoll(word, &used);
      if (used != word.size()) run = 0;
    } catch (const std::exception&) {
      run = 0;
    }
  }
  if (run < 1) return usage_error(*find_command("undo"), "RUN is a run's number");
  try {
    auto db = store::Connection::open(suite_paths(options));
    const journal::UndoResult result = journal::undo_run(db, run, tool_context());
    if (options.json) {
      print_json(result, run);
    } else {
      print_text(result, run);
    }
    return result.status == Status::undone ? 0 : 1;
  } catch (const store::DbError& e) {
    std::fprintf(stderr, "%s\n", standard_error_text(e.error()).c_str());
    return 2;
  }
}

}  // namespace kiv::cli
