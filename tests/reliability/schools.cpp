#include "schools.h"

#include <fstream>
#include <memory>
#include <stdexcept>

#include "import/collection_file.h"
#include "import/collection_writer.h"
#include "store/statement.h"
#include "store/transaction.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {

const std::string& pristine_demo_school() {
  static const std::unique_ptr<TempSuite> scratch = std::make_unique<TempSuite>(false);
  static const std::string root = [] {
    const std::string dir = scratch->root() + "/pristine";
    const auto run = run_tool(scratch->root(), {"demo", "--root", dir, "--students", std::to_string(kDemoStudents)});
    if (run.status != 0) throw std::runtime_error("kiv2700 demo failed: " + run.err);
    return dir;
  }();
  return root;
}

void make_single_record_school(const SuitePaths& paths, std::int64_t students, const std::string& file_path) {
  auto db = store::Connection::open(paths.db_path());
  store::Transaction tx(db);
  db.execute("INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 1)");
  std::ofstream out(file_path, std::ios::binary | std::ios::trunc);
  Cents total = 0;
  for (std::int64_t n = 0; n < students; ++n) {
    const std::string id = std::to_string(10000 + n);
    const Cents due = 150000 + (n % 7) * 1000;
    store::Statement(db, "INSERT INTO KIV7_Student (stdid, delmark, grade, clsid, seatno) VALUES (?1, 0, ?2, ?3, ?4)")
        .bind(1, id)
        .bind(2, std::to_string(1 + n % 6))
        .bind(3, std::to_string(1 + n % 4))
        .bind(4, std::to_string(1 + n % 40))
        .run();
    store::Statement(db,
                     "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) "
                     "VALUES (?1, '2004-10-15', 1, ?2, ?3, ?4, 0)")
        .bind(1, id)
        .bind(2, "P" + id)
        .bind(3, "OF00" + id)
        .bind(4, plain_decimal(due))
        .run();
    store::Statement(db, "INSERT INTO KIV9_Payitem (stdid, tranday, grpid) VALUES (?1, '2004-10-15', 1)")
        .bind(1, id)
        .run();
    out << import::format_detail({"0931015", "00000000000000", "", due, "0", id, "01", ""}) << "\r\n";
    total += due;
  }
  out << import::format_trailer(students, total, students, total) << "\r\n";
  tx.commit();
  if (!out) throw std::runtime_error("cannot write " + file_path);
}

std::vector<std::string> detail_lines(const std::string& file) {
  Error error;
  auto reader = import::CollectionReader::open(file, error);
  if (!reader) throw std::runtime_error(error.description);
  std::vector<std::string> lines;
  while (auto line = reader->next()) {
    if (import::record_kind(*line) == import::RecordKind::detail) lines.emplace_back(*line);
  }
  return lines;
}

}  // namespace kiv::testing
