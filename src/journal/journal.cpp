#include "journal/journal.h"

#include <array>
#include <ctime>

namespace kiv::journal {

namespace {

constexpr std::array<std::pair<LineOutcome, std::string_view>, 5> kNames{{
    {LineOutcome::posted_with_amount, "posted_amount"},
    {LineOutcome::posted, "posted"},
    {LineOutcome::failed_transfer, "failed_transfer"},
    {LineOutcome::logged, "logged"},
    {LineOutcome::settled, "settled"},
}};

}  // namespace

std::string_view outcome_name(LineOutcome outcome) {
  for (const auto& [value, name] : kNames) {
    if (value == outcome) return name;
  }
  return "logged";
}

std::optional<LineOutcome> outcome_from_name(std::string_view name) {
  for (const auto& [value, text] : kNames) {
    if (text == name) return value;
  }
  return std::nullopt;
}

bool settles(LineOutcome outcome) {
  return outcome != LineOutcome::logged;
}

void Balance::add(LineOutcome outcome, Cents amount) {
  switch (outcome) {
    case LineOutcome::posted_with_amount:
      with_amount += amount;
      break;
    case LineOutcome::posted:
      without_amount += amount;
      break;
    case LineOutcome::logged:
      logged += amount;
      break;
    case LineOutcome::settled:
      settled += amount;
      break;
    case LineOutcome::failed_transfer:
      break;  // never credited
  }
}

std::string local_time_text(const std::tm& when) {
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &when);
  return text;
}

std::string local_time_text() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local_time_text(local);
}

std::string minute_text(std::string_view stored) {
  std::string out(stored.substr(0, 16));
  for (std::size_t i = 0; i < out.size() && i < 10; ++i) {
    if (out[i] == '-') out[i] = '/';
  }
  return out;
}

}  // namespace kiv::journal
