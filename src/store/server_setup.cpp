#include "store/server_setup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "store/connection.h"
#include "store/db_error.h"
#include "store/schema.h"
#include "store/server/conninfo.h"
#include "store/statement.h"
#include "store/store_choice.h"
#include "store/suite_schema.h"
#include "store/transaction.h"

namespace kiv::store {

namespace {

[[noreturn]] void refuse(const std::string& why) {
  throw DbError(Error{kErrGeneralFailure, why, true});
}

void make_folders(const SuitePaths& paths) {
  std::error_code ec;
  for (const auto& dir : {paths.exe_dir(), paths.mdb_dir(), paths.work_dir()}) {
    std::filesystem::create_directories(dir, ec);
    if (ec) throw DbError(Error{ec.value(), "無法建立資料夾 " + dir + ": " + ec.message(), true});
  }
}

// A folder whose database is already somewhere is left to it.
void refuse_existing_database(const SuitePaths& paths) {
  std::error_code ec;
  if (std::filesystem::exists(pgconn_path(paths), ec)) {
    refuse("資料庫已設定,不予覆蓋: " + pgconn_path(paths));
  }
}

// KIV.pgconn holds the connection without its password, so that it never
// needs protecting; the password comes from PGPASSWORD, ~/.pgpass or the
// suite's own. Written whole or not at all.
void write_pgconn(const SuitePaths& paths, const std::string& conninfo) {
  const std::string path = pgconn_path(paths);
  const std::string temporary = path + ".new";
  const std::string line = server::without_password(conninfo) + "\n";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool written = fd >= 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  written = written && ::fsync(fd) == 0;
  const int number = errno;
  if (fd >= 0) ::close(fd);
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int failure = written ? errno : number;
    ::unlink(temporary.c_str());
    throw DbError(Error{failure, "無法寫入 " + path + ": " + std::strerror(failure), true});
  }
}

Connection connect(const std::string& conninfo) {
  if (auto problem = server::conninfo_problem(conninfo)) refuse("無法開啟資料庫: " + *problem);
  return Connection::connect_server(conninfo);
}

// The suite's tables that the server's current schema already has.
std::vector<std::string> existing_tables(Connection& db) {
  {
    Statement schema(db, "SELECT current_schema() IS NOT NULL");
    if (!schema.step() || schema.text(0) != "t") refuse("伺服器的搜尋路徑 (search_path) 中沒有可用的 schema");
  }
  std::vector<std::string> found;
  for (const SuiteTable& table : suite_tables()) {
    Statement st(db, "SELECT 1 FROM pg_tables WHERE schemaname = current_schema() AND tablename = lower(?1)");
    st.bind(1, table.name);
    if (st.step()) found.emplace_back(table.name);
  }
  return found;
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

std::string column_list(const SuiteTable& table) {
  std::string out;
  for (const SuiteColumn& column : table.columns) {
    if (!out.empty()) out += ',';
    out += column.name;
  }
  return out;
}

// The statements that read a table of the file in insertion order and write
// it to the server, declared once each.
struct TableCopy {
  TableCopy(std::string read_text, std::string write_text) : read(std::move(read_text)), write(std::move(write_text)) {}
  Sql read, write;
};

const std::vector<std::unique_ptr<TableCopy>>& table_copies() {
  static const std::vector<std::unique_ptr<TableCopy>> kCopies = [] {
    std::vector<std::unique_ptr<TableCopy>> all;
    for (const SuiteTable& table : suite_tables()) {
      std::string markers;
      for (std::size_t i = 1; i <= table.columns.size(); ++i) {
        markers.append(i > 1 ? ",?" : "?").append(std::to_string(i));
      }
      const std::string name(table.name), columns = column_list(table);
      std::string read = "SELECT ", write = "INSERT INTO ";
      read.append(columns).append(" FROM ").append(name).append(" ORDER BY rowid");
      write.append(name).append(" (").append(columns).append(") VALUES (").append(markers).append(")");
      all.push_back(std::make_unique<TableCopy>(std::move(read), std::move(write)));
    }
    return all;
  }();
  return kCopies;
}

// Adds one row's number columns to the running sum.
void add_numbers(const SuiteTable& table, const Statement& row, CopiedTable& sums) {
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    if (table.columns[c].type != ColumnType::number) continue;
    if (auto cents = row.cents(static_cast<int>(c))) sums.numbers += *cents;
  }
}

CopiedTable copy_table(Connection& file, Connection& server, const SuiteTable& table, const TableCopy& sql) {
  CopiedTable copied{std::string(table.name)};
  Statement read(file, sql.read);
  while (read.step()) {
    Statement write(server, sql.write);
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      const int column = static_cast<int>(c);
      if (read.is_null(column)) {
        write.bind_null(column + 1);
      } else {
        write.bind(column + 1, read.text(column));
      }
    }
    try {
      write.run();
    } catch (const DbError& e) {
      refuse(copied.name + " 的第 " + std::to_string(copied.rows + 1) + " 列無法寫入伺服器: " + e.error().description);
    }
    add_numbers(table, read, copied);
    ++copied.rows;
  }
  return copied;
}

// What the server now holds, counted and summed the same way.
CopiedTable count_on_server(Connection& server, const SuiteTable& table, const TableCopy& sql) {
  CopiedTable found{std::string(table.name)};
  Statement read(server, sql.read);
  while (read.step()) {
    add_numbers(table, read, found);
    ++found.rows;
  }
  return found;
}

void refuse_rows_in(Connection& server) {
  for (const SuiteTable& table : suite_tables()) {
    Statement st(server, "SELECT 1 FROM " + std::string(table.name) + " LIMIT 1");
    if (st.step()) refuse("伺服器上的 " + std::string(table.name) + " 已有資料,不予覆蓋");
  }
}

}  // namespace

std::optional<Error> init_server_suite(const SuitePaths& paths, const std::string& conninfo) {
  try {
    std::error_code ec;
    if (std::filesystem::exists(paths.db_path(), ec)) {
      refuse("此套件資料夾已有資料庫檔 " + paths.db_path() + ",請用 kiv2700 copy-to-server 把它搬到伺服器");
    }
    refuse_existing_database(paths);
    Connection server = connect(conninfo);
    if (auto found = existing_tables(server); !found.empty()) {
      refuse("伺服器上已有本系統的資料表 (" + joined(found) + "),不予更動");
    }
    make_folders(paths);
    create_schema(server);
    write_pgconn(paths, conninfo);
  } catch (const DbError& e) {
    return e.error();
  }
  return std::nullopt;
}

std::optional<Error> copy_to_server(const SuitePaths& paths, const std::string& conninfo,
                                    std::vector<CopiedTable>& copied) {
  copied.clear();
  try {
    refuse_existing_database(paths);
    Connection file = Connection::open_file(paths.db_path());
    Connection server = connect(conninfo);
    const std::vector<std::string> found = existing_tables(server);
    const bool create = found.empty();
    if (!create && found.size() != suite_tables().size()) {
      refuse("伺服器上只有部分本系統的資料表 (" + joined(found) + "),不予更動");
    }
    if (!create) {
      require_suite_schema(server, server::without_password(conninfo));
      refuse_rows_in(server);
    }
    // Nobody writes the file while it is copied: the copy is one moment of it.
    Transaction hold_file(file);
    Transaction tx(server);
    if (create) {
      for (const std::string& statement : suite_ddl(Dialect::server)) server.execute(statement);
    }
    const auto& copies = table_copies();
    for (std::size_t t = 0; t < suite_tables().size(); ++t) {
      const SuiteTable& table = suite_tables()[t];
      const CopiedTable from_file = copy_table(file, server, table, *copies[t]);
      const CopiedTable on_server = count_on_server(server, table, *copies[t]);
      if (on_server.rows != from_file.rows || on_server.numbers != from_file.numbers) {
        refuse(from_file.name + " 複製後不符: 檔案 " + std::to_string(from_file.rows) + " 列、數值合計 " +
               amount_text(from_file.numbers) + ",伺服器 " + std::to_string(on_server.rows) + " 列、數值合計 " +
               amount_text(on_server.numbers));
      }
      copied.push_back(from_file);
    }
    tx.commit();
    write_pgconn(paths, conninfo);
  } catch (const DbError& e) {
    copied.clear();
    return e.error();
  }
  return std::nullopt;
}

}  // namespace kiv::store
