#include "temp_suite.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "store/file/file_store.h"
#include "store/schema.h"
#include "store/server/conninfo.h"
#include "store/server_setup.h"
#include "store/statement.h"

namespace kiv::testing {

namespace {

std::string fresh_folder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kiv-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

// A schema name no other test, process or earlier run uses at this moment.
std::string fresh_schema(const std::string& folder) {
  static std::atomic<int> next{0};
  std::string name = "kiv_t" + std::to_string(::getpid()) + "_" + std::to_string(next++) + "_";
  for (char c : folder.substr(folder.size() - 6))
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

store::Connection server_admin() {
  return store::Connection::connect_server(test_server_uri());
}

}  // namespace

std::string test_server_uri() {
  const char* uri = std::getenv("KIV_TEST_PG");
  return uri != nullptr ? uri : "";
}

std::vector<StoreKind> stores_to_test() {
  if (test_server_uri().empty()) return {StoreKind::file};
  return {StoreKind::file, StoreKind::server};
}

TempSuite::TempSuite(StoreKind store, bool with_database) : store_(store) {
  paths_.root = fresh_folder();
  if (store_ == StoreKind::file) {
    if (!with_database) return;
    if (auto error = store::init_suite(paths_)) throw std::runtime_error(error->description);
    return;
  }
  if (test_server_uri().empty()) throw std::runtime_error("KIV_TEST_PG is not set");
  // The schema's name is made here of letters, digits and '_' only.
  schema_ = fresh_schema(paths_.root);
  server_admin().execute("CREATE SCHEMA " + schema_);
  server_uri_ = store::server::without_password(test_server_uri()) + " options='-csearch_path=" + schema_ + "'";
  if (!with_database) return;
  if (auto error = store::init_server_suite(paths_, server_uri_)) throw std::runtime_error(standard_error_text(*error));
}

TempSuite::~TempSuite() {
  if (!schema_.empty()) {
    try {
      server_admin().execute("DROP SCHEMA " + schema_ + " CASCADE");
    } catch (const std::exception&) {
      // A server stopped by the test itself: its schema goes with it.
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(paths_.root, ec);
}

store::Connection TempSuite::open_unchecked() const {
  if (store_ == StoreKind::server) return store::Connection::connect_server(server_uri_);
  return store::Connection(store::file::open(paths_.db_path(), {}, store::kSuitePassword));
}

std::vector<std::string> TempSuite::tool_args(const std::string& command, const std::string& root,
                                              std::vector<std::string> more) const {
  if (store_ == StoreKind::server) more.insert(more.begin(), {"--server", server_uri_});
  more.insert(more.begin(), {command, "--root", root});
  return more;
}

std::string TempSuite::write_file(const std::string& relative, const std::string& content) const {
  const auto path = std::filesystem::path(paths_.root) / relative;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
  return path.string();
}

std::string query_text(store::Connection& db, const std::string& sql) {
  store::Statement st(db, sql);
  return st.step() ? st.text(0) : std::string();
}

std::string query_rows(store::Connection& db, const std::string& sql) {
  store::Statement st(db, sql);
  std::string all;
  while (st.step()) {
    if (!all.empty()) all += " | ";
    for (int c = 0; c < st.column_count(); ++c) {
      const std::string text = st.text(c);
      all += std::string(c > 0 ? " " : "") + (st.is_null(c) ? "NULL" : text.empty() ? "''" : text);
    }
  }
  return all;
}

std::filesystem::path install_behind_link(const std::filesystem::path& base, const std::string& program,
                                          const std::string& name) {
  namespace fs = std::filesystem;
  fs::create_directories(base / "suite/exe");
  fs::create_directories(base / "bin");
  std::error_code ec;
  fs::create_hard_link(program, base / "suite/exe" / name, ec);
  if (ec) fs::copy_file(program, base / "suite/exe" / name);
  fs::create_symlink("../suite/exe/" + name, base / "bin" / name);
  return base / "bin" / name;
}

}  // namespace kiv::testing
