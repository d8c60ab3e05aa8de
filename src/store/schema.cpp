#include "store/schema.h"

#include <filesystem>

#include "store/db_error.h"
#include "store/suite_schema.h"
#include "store/transaction.h"

namespace kiv::store {

void create_schema(Connection& connection) {
  Transaction transaction(connection);
  for (const std::string& statement : suite_ddl(connection.dialect())) connection.execute(statement);
  transaction.commit();
}

std::optional<Error> init_suite(const SuitePaths& paths) {
  std::error_code ec;
  for (const auto& dir : {paths.exe_dir(), paths.mdb_dir(), paths.work_dir()}) {
    std::filesystem::create_directories(dir, ec);
    if (ec) return Error{ec.value(), "無法建立資料夾 " + dir + ": " + ec.message(), true};
  }
  if (std::filesystem::exists(paths.db_path(), ec)) {
    return Error{kErrGeneralFailure, "資料庫已存在,不予覆蓋: " + paths.db_path(), true};
  }
  try {
    Connection connection = Connection::create_file(paths.db_path());
    create_schema(connection);
  } catch (const DbError& e) {
    std::filesystem::remove(paths.db_path(), ec);
    return e.error();
  }
  return std::nullopt;
}

}  // namespace kiv::store
