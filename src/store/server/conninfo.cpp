#include "store/server/conninfo.h"

#include <cstring>

#include "store/server/pg_handles.h"

namespace kiv::store::server {

namespace {

PgConninfo parse(const std::string& conninfo, std::string* problem) {
  char* error = nullptr;
  PgConninfo options(PQconninfoParse(conninfo.c_str(), &error));
  if (error != nullptr) {
    if (problem != nullptr) *problem = error;
    PQfreemem(error);
  }
  if (!options && problem != nullptr && problem->empty()) *problem = "out of memory";
  return options;
}

bool is_password(const char* keyword) {
  return std::strcmp(keyword, "password") == 0;
}

// A value as libpq's keyword=value syntax quotes it.
std::string quoted(const char* value) {
  std::string out = "'";
  for (const char* c = value; *c != '\0'; ++c) {
    if (*c == '\'' || *c == '\\') out += '\\';
    out += *c;
  }
  return out + "'";
}

}  // namespace

std::optional<std::string> conninfo_problem(const std::string& conninfo) {
  std::string problem;
  if (parse(conninfo, &problem)) return std::nullopt;
  while (!problem.empty() && (problem.back() == '\n' || problem.back() == ' ')) problem.pop_back();
  return problem;
}

bool names_password(const std::string& conninfo) {
  const PgConninfo options = parse(conninfo, nullptr);
  for (const PQconninfoOption* o = options.get(); o != nullptr && o->keyword != nullptr; ++o) {
    if (is_password(o->keyword) && o->val != nullptr && o->val[0] != '\0') return true;
  }
  return false;
}

std::optional<std::string> conninfo_value(const std::string& conninfo, const char* keyword) {
  const PgConninfo options = parse(conninfo, nullptr);
  for (const PQconninfoOption* o = options.get(); o != nullptr && o->keyword != nullptr; ++o) {
    if (std::strcmp(o->keyword, keyword) == 0 && o->val != nullptr) return std::string(o->val);
  }
  return std::nullopt;
}

std::string without_password(const std::string& conninfo) {
  const PgConninfo options = parse(conninfo, nullptr);
  std::string out;
  for (const PQconninfoOption* o = options.get(); o != nullptr && o->keyword != nullptr; ++o) {
    if (o->val == nullptr || is_password(o->keyword)) continue;
    if (!out.empty()) out += ' ';
    out += std::string(o->keyword) + "=" + quoted(o->val);
  }
  return out;
}

}  // namespace kiv::store::server
