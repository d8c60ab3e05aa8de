// kiv2700 check: the validation pass alone, so a collection file can be
// looked at before anyone posts it. Never opens the database.
#include <cstdio>
#include <string>
#include <variant>

#include "cli/commands.h"
#include "core/error.h"
#include "core/money.h"
#include "import/collection_file.h"

namespace kiv::cli {

namespace {

using import::Validation;

const char* verdict_name(Validation::Verdict verdict) {
  switch (verdict) {
    case Validation::Verdict::accepted:
      return "accepted";
    case Validation::Verdict::malformed:
      return "malformed";
    case Validation::Verdict::totals_differ:
      return "totals_differ";
  }
  return "malformed";
}

// The operator's message for a rejected file; empty when it is accepted.
std::string rejection_message(Validation::Verdict verdict) {
  switch (verdict) {
    case Validation::Verdict::accepted:
      return {};
    case Validation::Verdict::malformed:
      return import::kMsgMalformed;
    case Validation::Verdict::totals_differ:
      return import::kMsgTotalsDiffer;
  }
  return import::kMsgMalformed;
}

void print_plain(const Validation& v, const std::string& message) {
  std::printf("lines: %lld\n", static_cast<long long>(v.detail_count));
  if (v.credited_sum_overflowed) {
    std::printf("credited sum: too large to count\n");
  } else {
    std::printf("credited sum: %s\n", amount_text(v.credited_sum).c_str());
  }
  if (v.last_trailer) {
    const auto& t = *v.last_trailer;
    std::printf("trailer posted amount: %s\n", amount_text(t.posted_amt).c_str());
    std::printf("trailer posted count: %lld\n", static_cast<long long>(t.posted_cnt));
    std::printf("trailer file amount: %s\n", amount_text(t.file_amt).c_str());
    std::printf("trailer file count: %lld\n", static_cast<long long>(t.file_cnt));
  } else {
    std::printf("trailer: none\n");
  }
  std::printf("%s\n", message.empty() ? "accepted" : message.c_str());
}

void print_json(const Validation& v, const std::string& message) {
  std::string out = "{\"accepted\":";
  out += v.verdict == Validation::Verdict::accepted ? "true" : "false";
  out += ",\"verdict\":" + json_string(verdict_name(v.verdict));
  out += ",\"lines\":" + std::to_string(v.detail_count);
  out += ",\"credited_sum\":" +
         (v.credited_sum_overflowed ? std::string("null") : json_string(amount_text(v.credited_sum)));
  out += ",\"credited_total\":" + json_string(amount_text(v.credited_total));
  out += ",\"trailer\":";
  if (v.last_trailer) {
    const auto& t = *v.last_trailer;
    out += "{\"file_cnt\":" + std::to_string(t.file_cnt) + ",\"file_amt\":" + json_string(amount_text(t.file_amt)) +
           ",\"posted_cnt\":" + std::to_string(t.posted_cnt) +
           ",\"posted_amt\":" + json_string(amount_text(t.posted_amt)) + "}";
  } else {
    out += "null";
  }
  out += ",\"messages\":[" + (message.empty() ? std::string() : json_string(message)) + "]}";
  std::printf("%s\n", out.c_str());
}

}  // namespace

int run_check(const Options& options) {
  if (options.positional.size() != 1) return usage_error(*find_command("check"), "exactly one FILE is needed");

  const auto result = import::validate_file(options.positional.front());
  if (const auto* error = std::get_if<Error>(&result)) {
    const std::string text = standard_error_text(*error);
    std::fprintf(stderr, "kiv2700 check: %s\n", text.c_str());
    if (options.json) {
      std::printf("{\"accepted\":false,\"verdict\":\"error\",\"messages\":[%s]}\n", json_string(text).c_str());
    }
    return 2;
  }

  const Validation& v = std::get<Validation>(result);
  const std::string message = rejection_message(v.verdict);
  if (options.json) {
    print_json(v, message);
  } else {
    print_plain(v, message);
  }
  if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
  return message.empty() ? 0 : 1;
}

}  // namespace kiv::cli
