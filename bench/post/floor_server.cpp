// The floor for posting on the server: the very statements a run sent, taken
// from the server's statement log, replayed straight through libpq, each
// prepared once, all in one transaction, one round trip each, less those on
// the journal's tables (KIV27_*), as the file store's floor has none. What a
// run costs beyond this is the program's own.
//   bench_post_floor LOG CONNINFO
// LOG is the server log of one run made with log_statement=all; the replay
// runs against a school in the same state that run started from.
#include <libpq-fe.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Execution {
  std::string name;
  std::vector<std::optional<std::string>> values;
};

// "$1 = '10001', $2 = NULL, $3 = 'it''s'"
std::vector<std::optional<std::string>> parse_values(const std::string& text) {
  std::vector<std::optional<std::string>> values;
  std::size_t i = 0;
  while ((i = text.find(" = ", i)) != std::string::npos) {
    i += 3;
    if (text.compare(i, 4, "NULL") == 0) {
      values.emplace_back(std::nullopt);
      i += 4;
      continue;
    }
    std::string value;
    for (++i; i < text.size(); ++i) {
      if (text[i] == '\'') {
        if (i + 1 < text.size() && text[i + 1] == '\'') {
          value += '\'';
          ++i;
          continue;
        }
        break;
      }
      value += text[i];
    }
    values.emplace_back(std::move(value));
  }
  return values;
}

constexpr const char* kExecute = "LOG:  execute ";
constexpr const char* kDetail = "DETAIL:  parameters: ";

// Walks the log's executions of named statements, each with its values:
// `on_statement(name, text)` for every one, then `on_execution` once it is whole.
template <class OnStatement, class OnExecution>
bool walk(const std::string& path, OnStatement&& on_statement, OnExecution&& on_execution) {
  std::ifstream in(path);
  std::optional<Execution> pending;
  const std::string execute = kExecute, detail = kDetail;
  for (std::string line; std::getline(in, line);) {
    auto at = line.find(execute);
    if (at != std::string::npos) {
      if (pending && !on_execution(*pending)) return false;
      pending.reset();
      const auto colon = line.find(": ", at + execute.size());
      const std::string name = line.substr(at + execute.size(), colon - at - execute.size());
      if (name == "<unnamed>") continue;
      on_statement(name, line.substr(colon + 2));
      pending = Execution{name, {}};
      continue;
    }
    at = line.find(detail);
    if (at != std::string::npos && pending) pending->values = parse_values(line.substr(at + detail.size()));
  }
  return !pending || on_execution(*pending);
}

bool on_journal(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text.find("KIV27_") != std::string::npos;
}

bool ok(PGresult* result, const char* what) {
  const ExecStatusType status = PQresultStatus(result);
  const bool good = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  if (!good) std::fprintf(stderr, "%s: %s", what, PQresultErrorMessage(result));
  PQclear(result);
  return good;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: bench_post_floor LOG CONNINFO\n", stderr);
    return 2;
  }
  std::map<std::string, std::string> statements;  // name -> text
  walk(
      argv[1],
      [&](const std::string& name, const std::string& text) {
        if (!on_journal(text)) statements.emplace(name, text);
      },
      [](const Execution&) { return true; });
  PGconn* conn = PQconnectdb(argv[2]);
  if (PQstatus(conn) != CONNECTION_OK) {
    std::fprintf(stderr, "%s", PQerrorMessage(conn));
    return 2;
  }
  const auto started = std::chrono::steady_clock::now();
  for (const auto& [name, text] : statements) {
    if (!ok(PQprepare(conn, name.c_str(), text.c_str(), 0, nullptr), "prepare")) return 2;
  }
  if (!ok(PQexec(conn, "BEGIN"), "begin")) return 2;
  std::size_t executed = 0;
  const bool all = walk(
      argv[1], [](const std::string&, const std::string&) {},
      [&](const Execution& e) {
        if (!statements.contains(e.name)) return true;
        std::vector<const char*> values;
        for (const auto& v : e.values) values.push_back(v ? v->c_str() : nullptr);
        ++executed;
        return ok(
            PQexecPrepared(conn, e.name.c_str(), static_cast<int>(values.size()), values.data(), nullptr, nullptr, 0),
            e.name.c_str());
      });
  if (!all || !ok(PQexec(conn, "COMMIT"), "commit")) return 2;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%zu statements (%zu distinct) in %.3f s\n", executed, statements.size(), seconds);
  PQfinish(conn);
  return 0;
}
