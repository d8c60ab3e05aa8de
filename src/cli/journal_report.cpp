#include "cli/journal_report.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "cli/options.h"
#include "core/money.h"

namespace kiv::cli {

namespace {

// Columns a text takes on a terminal: CJK characters take two.
std::size_t display_width(const std::string& text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    width += length >= 3 ? 2 : 1;
    i += length;
  }
  return width;
}

std::string padded(const std::string& text, std::size_t width) {
  const std::size_t used = display_width(text);
  return used >= width ? text : text + std::string(width - used, ' ');
}

std::string outcome_label(const journal::LineRecord& line) {
  switch (line.outcome) {
    case journal::LineOutcome::posted_with_amount:
      return "入帳";
    case journal::LineOutcome::posted:
      return "入帳(不計金額)";
    case journal::LineOutcome::failed_transfer:
      return "轉帳不成功";
    case journal::LineOutcome::logged:
      return "銷帳異常: " + line.log_text;
    case journal::LineOutcome::settled:
      return "已由第 " + std::to_string(line.settled_by) + " 次執行入帳";
  }
  return {};
}

std::string run_outcome_label(const journal::RunRecord& run) {
  if (run.kind == journal::kUndoRun) return "復原第 " + std::to_string(run.undoes) + " 次執行";
  if (run.outcome == journal::kCompleted) return "完成";
  if (run.outcome == journal::kFailed) return "錯誤中止";
  return "未完成";
}

std::string operator_text(const journal::RunContext& c) {
  return c.arg1 + "/" + c.arg2 + "/" + c.arg3;
}

}  // namespace

journal::RunContext tool_context() {
  std::string user;
  if (const char* name = std::getenv("USER"); name != nullptr && *name != '\0') {
    user = name;
  } else if (const passwd* entry = getpwuid(getuid()); entry != nullptr) {
    user = entry->pw_name;
  }
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return journal::RunContext{"kiv2700", user, host};
}

std::string money_text(Cents cents) {
  const bool negative = cents < 0;
  const Cents magnitude = negative ? -cents : cents;
  char hundredths[4];
  std::snprintf(hundredths, sizeof hundredths, "%02lld", static_cast<long long>(magnitude % 100));
  std::string out = negative ? "-" : "";
  out += group_digits(magnitude / 100);
  out += '.';
  return out + hundredths;
}

std::string line_text(const journal::LineRecord& line) {
  char head[64];
  std::snprintf(head, sizeof head, "%6lld %6lld  %-5s %-2s %12s  ", static_cast<long long>(line.line_no),
                static_cast<long long>(line.file_line), line.stdid.c_str(), line.grpid.c_str(),
                money_text(line.amount).c_str());
  return head + outcome_label(line);
}

std::string line_json(const journal::LineRecord& line) {
  std::string out = "{\"line\":" + std::to_string(line.line_no);
  out += ",\"file_line\":" + std::to_string(line.file_line);
  out += ",\"outcome\":" + json_string(std::string(journal::outcome_name(line.outcome)));
  out += ",\"amount\":" + std::to_string(line.amount);
  out += ",\"stdid\":" + json_string(line.stdid);
  out += ",\"grpid\":" + json_string(line.grpid);
  out += ",\"fail_code\":" + json_string(line.fail_code);
  if (line.outcome == journal::LineOutcome::logged) out += ",\"log_text\":" + json_string(line.log_text);
  if (line.outcome == journal::LineOutcome::settled) out += ",\"settled_by\":" + std::to_string(line.settled_by);
  return out + "}";
}

std::string balance_text(const journal::Balance& b) {
  const auto row = [](const char* label, Cents cents) {
    char amount[64];
    std::snprintf(amount, sizeof amount, "%16s\n", money_text(cents).c_str());
    return "  " + padded(label, 20) + amount;
  };
  std::string out = "入帳金額核對 (入帳總金額 " + money_text(b.credited_total) + ")\n";
  out += row("已入帳,計入總金額", b.with_amount);
  out += row("已入帳,不計金額", b.without_amount);
  out += row("列入錯誤記錄", b.logged);
  out += row("未處理", b.not_reached);
  if (b.settled != 0) out += row("前次執行已入帳", b.settled);
  out += row("差額", b.difference());
  return out;
}

std::string balance_json(const journal::Balance& b) {
  return "{\"credited_total\":" + std::to_string(b.credited_total) +
         ",\"with_amount\":" + std::to_string(b.with_amount) +
         ",\"without_amount\":" + std::to_string(b.without_amount) + ",\"logged\":" + std::to_string(b.logged) +
         ",\"not_reached\":" + std::to_string(b.not_reached) + ",\"settled\":" + std::to_string(b.settled) +
         ",\"difference\":" + std::to_string(b.difference()) + "}";
}

std::string run_line_text(const journal::RunRecord& run) {
  char head[64], counts[128];
  std::snprintf(head, sizeof head, "%5lld  %-19s  ", static_cast<long long>(run.run), run.started.c_str());
  std::snprintf(counts, sizeof counts, "  %7lld %7lld %7lld %7lld %7lld  ", static_cast<long long>(run.lines),
                static_cast<long long>(run.ok), static_cast<long long>(run.failed), static_cast<long long>(run.errors),
                static_cast<long long>(run.settled));
  std::string outcome = run_outcome_label(run);
  if (run.undone_by != 0) outcome += ",已由第 " + std::to_string(run.undone_by) + " 次執行復原";
  return head + padded(operator_text(run.context), 24) + counts + padded(outcome, 28) + "  " + run.source;
}

std::string run_text(const journal::RunRecord& run) {
  std::string out = "執行           " + std::to_string(run.run) + " (" + run_outcome_label(run) + ")\n";
  out += "開始           " + run.started + "\n";
  out += "結束           " + run.ended + "\n";
  out += "操作者         " + operator_text(run.context) + "\n";
  out += "檔案           " + run.source + "\n";
  out += "大小           " + std::to_string(run.size) + " bytes, SHA-256 " + run.sha256 + "\n";
  if (run.kind == journal::kUndoRun) return out + "復原資料列數   " + group_digits(run.ok) + "\n";
  if (run.trailer) {
    out += "尾錄           " + group_digits(run.file_cnt) + " 筆 " + money_text(run.file_amt) + ",入帳 " +
           group_digits(run.posted_cnt) + " 筆 " + money_text(run.posted_amt) + "\n";
  }
  out += "銷帳總筆數     " + group_digits(run.lines) + "\n";
  out += "總金額         " + group_digits(round_half_even(run.posted_cents)) + "\n";
  out += "轉帳成功筆數   " + group_digits(run.ok) + "\n";
  out += "轉帳不成功筆數 " + group_digits(run.failed) + "\n";
  out += "銷帳異常筆數   " + group_digits(run.errors) + "\n";
  if (run.settled != 0 || run.resumes != 0) {
    out += "前次已入帳筆數 " + group_digits(run.settled) + " (續做第 " + std::to_string(run.resumes) + " 次執行)\n";
  }
  if (!run.log.empty()) out += "錯誤記錄檔     " + run.log + "\n";
  if (run.undone_by != 0) out += "已由第 " + std::to_string(run.undone_by) + " 次執行復原\n";
  return out;
}

std::string run_json(const journal::RunRecord& run) {
  std::string out = "{\"run\":" + std::to_string(run.run);
  out += ",\"kind\":" + json_string(run.kind);
  out += ",\"started\":" + json_string(run.started);
  out += ",\"ended\":" + json_string(run.ended);
  out += ",\"operator\":[" + json_string(run.context.arg1) + "," + json_string(run.context.arg2) + "," +
         json_string(run.context.arg3) + "]";
  out += ",\"file\":" + json_string(run.source);
  out += ",\"size\":" + std::to_string(run.size);
  out += ",\"sha256\":" + json_string(run.sha256);
  if (run.trailer) {
    out += ",\"trailer\":{\"file_cnt\":" + std::to_string(run.file_cnt) +
           ",\"file_amt\":" + std::to_string(run.file_amt) + ",\"posted_cnt\":" + std::to_string(run.posted_cnt) +
           ",\"posted_amt\":" + std::to_string(run.posted_amt) + "}";
  }
  out += ",\"lines\":" + std::to_string(run.lines);
  out += ",\"ok\":" + std::to_string(run.ok);
  out += ",\"failed\":" + std::to_string(run.failed);
  out += ",\"errors\":" + std::to_string(run.errors);
  out += ",\"settled\":" + std::to_string(run.settled);
  out += ",\"posted_cents\":" + std::to_string(run.posted_cents);
  out += ",\"outcome\":" + json_string(run.outcome);
  out += ",\"log\":" + (run.log.empty() ? std::string("null") : json_string(run.log));
  out += ",\"resumes\":" + std::to_string(run.resumes);
  out += ",\"undoes\":" + std::to_string(run.undoes);
  out += ",\"undone_by\":" + std::to_string(run.undone_by);
  return out + "}";
}

}  // namespace kiv::cli
