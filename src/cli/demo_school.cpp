#include "cli/demo_school.h"

#include <cstdio>
#include <fstream>
#include <vector>

#include "import/collection_writer.h"
#include "store/connection.h"
#include "store/db_error.h"
#include "store/statement.h"
#include "store/transaction.h"

namespace kiv::cli {

namespace {

using import::DetailFields;

constexpr const char* kDay1 = "2004-10-15";
constexpr const char* kRocDay1 = "0931015";  // seven-character form
constexpr const char* kDay2 = "2004-11-15";
constexpr Cents kFee = 1500;  // 15.00

// The kinds of line a demo file holds, one per student.
enum class Case {
  paid_exactly,
  paid_exactly_too,
  paid_short,           // differs from the amount due: 'a'
  deleted_paid_short,   // student marked deleted: 'c'
  transfer_failed,      // failure code on a known record
  no_record,            // no payment record for that group
  already_written_off,  // repeated write-off
  paid_in_cash,         // repeated write-off of a cash payment
  second_date,          // the record names a second transfer date
  left_failed,          // student row gone, failed transfer: record not found
  left_insert,          // student row gone, payment: the insert is refused
  combined,             // one transfer for a payer's several records
  count
};

// Five characters, as the file's student number field holds: digits for a
// small school, letters too for a large one (the benchmark's).
std::string student_number(std::int64_t value) {
  static constexpr char kSymbols[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string out(5, '0');
  for (int i = 4; i >= 0 && value > 0; --i, value /= 36) out[static_cast<std::size_t>(i)] = kSymbols[value % 36];
  return out;
}

std::string digits(std::int64_t value, int width) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%0*lld", width, static_cast<long long>(value));
  return buffer;
}

class DemoWriter {
 public:
  explicit DemoWriter(store::Connection& db) : db_(db) {}

  void student(const std::string& id, std::int64_t n, bool deleted) {
    static const store::Sql kStudent{
        "INSERT INTO KIV7_Student (stdid, delmark, grade, clsid, seatno) VALUES (?1,?2,?3,?4,?5)"};
    store::Statement st(db_, kStudent);
    st.bind(1, id)
        .bind(2, deleted ? 1 : 0)
        .bind(3, std::to_string(1 + n % 6))
        .bind(4, std::to_string(1 + (n / 6) % 5))
        .bind(5, std::to_string(1 + n / 30))
        .run();
  }

  void payment(const std::string& id, const char* day, int group, Cents due, const std::string& payer,
               const std::string& acct7, const char* day2 = nullptr, const char* pay_record = nullptr,
               const char* payway = nullptr) {
    static const store::Sql kPayment{
        "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee, tranday2, "
        "paystas, payway, pay_record) VALUES (?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11)"};
    store::Statement st(db_, kPayment);
    st.bind(1, id).bind(2, day).bind(3, group).bind(4, payer).bind(5, "OF" + acct7);
    st.bind(6, plain_decimal(due)).bind(7, plain_decimal(kFee));
    if (day2 != nullptr)
      st.bind(8, day2);
    else
      st.bind_null(8);
    st.bind(9, pay_record != nullptr ? 1 : 0);
    if (payway != nullptr)
      st.bind(10, payway);
    else
      st.bind_null(10);
    if (pay_record != nullptr)
      st.bind(11, pay_record);
    else
      st.bind_null(11);
    st.run();
    static const store::Sql kPayitem{"INSERT INTO KIV9_Payitem (stdid, tranday, grpid) VALUES (?1,?2,?3)"};
    store::Statement item(db_, kPayitem);
    item.bind(1, id).bind(2, day).bind(3, group).run();
  }

  void line(const DetailFields& fields) {
    lines_.push_back(import::format_detail(fields));
    file_amt_ += fields.amount;
    if (fields.fail_code.empty()) {
      ++posted_cnt_;
      posted_amt_ += fields.amount;
    }
  }

  std::optional<Error> write_file(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const auto& l : lines_) out << l << "\r\n";
    out << import::format_trailer(static_cast<std::int64_t>(lines_.size()), file_amt_, posted_cnt_, posted_amt_)
        << "\r\n";
    out.close();
    if (!out) return Error{5, "無法寫入 " + path, true};
    return std::nullopt;
  }

  std::int64_t line_count() const { return static_cast<std::int64_t>(lines_.size()); }

 private:
  store::Connection& db_;
  std::vector<std::string> lines_;
  Cents file_amt_ = 0;
  std::int64_t posted_cnt_ = 0;
  Cents posted_amt_ = 0;
};

DetailFields single_line(const std::string& id, Cents amount, const char* group = "01", const char* fail = "") {
  return DetailFields{kRocDay1, "00000000000000", "", amount, "0", id, group, fail};
}

// The every-case file takes the kinds in turn, and its combined transfers
// are in turn paid exactly, paid short, and for students the school no longer
// has.
Case every_case(std::int64_t n) {
  return static_cast<Case>(n % static_cast<int>(Case::count));
}
int every_case_combined_kind(std::int64_t n) {
  return static_cast<int>((n / static_cast<int>(Case::count)) % 3);
}

// An ordinary day, per hundred students: three transfers the bank could not
// make, one line for a fee the school never billed and one repeated payment
// (the two that reach the error log), a short payment, a family paying for
// three children at once, and a record due on a second date.
Case ordinary_case(std::int64_t n) {
  switch (n % 100) {
    case 17:
    case 58:
    case 91:
      return Case::transfer_failed;
    case 44:
      return Case::no_record;
    case 76:
      return Case::already_written_off;
    case 29:
      return Case::paid_short;
    case 63:
      return Case::combined;
    case 85:
      return Case::second_date;
    default:
      return Case::paid_exactly;
  }
}

void add_student(DemoWriter& w, std::int64_t n, Case line_case, int combined_kind) {
  const std::string id = n < 90000 ? digits(10000 + n, 5) : student_number(n);
  const Cents due = 150000 + (n % 5) * 10000;  // 1500.00 .. 1900.00
  const std::string acct7 = digits(n, 7);
  const std::string payer = "P" + digits(n, 9);
  switch (line_case) {
    case Case::paid_exactly:
    case Case::paid_exactly_too:
      w.student(id, n, false);
      w.payment(id, kDay1, 1, due, payer, acct7);
      w.line(single_line(id, due + kFee));
      break;
    case Case::paid_short:
      w.student(id, n, false);
      w.payment(id, kDay1, 1, due, payer, acct7);
      w.line(single_line(id, due + kFee - 50));
      break;
    case Case::deleted_paid_short:
      w.student(id, n, true);
      w.payment(id, kDay1, 1, due, payer, acct7);
      w.line(single_line(id, due - 10000));
      break;
    case Case::transfer_failed:
      w.student(id, n, false);
      w.payment(id, kDay1, 1, due, payer, acct7);
      w.line(single_line(id, due + kFee, "01", "01"));
      break;
    case Case::no_record:
      w.student(id, n, false);
      w.payment(id, kDay1, 1, due, payer, acct7);
      w.line(single_line(id, 50000, "03"));
      break;
    case Case::already_written_off:
      w.student(id, n, false);
      w.payment(id, kDay1, 1, due, payer, acct7, nullptr, "1", "1");
      w.line(single_line(id, due + kFee));
      break;
    case Case::paid_in_cash:
      w.student(id, n, false);
      w.payment(id, kDay1, 1, due, payer, acct7, nullptr, "1", "3");
      w.line(single_line(id, due + kFee));
      break;
    case Case::second_date:
      w.student(id, n, false);
      w.payment(id, kDay1, 1, due, payer, acct7, kDay2);
      w.payment(id, kDay2, 1, due, payer, acct7);
      w.line(single_line(id, due + kFee));
      break;
    case Case::left_failed:
      w.payment(id, kDay1, 1, due, payer, acct7);
      w.line(single_line(id, due + kFee, "01", "02"));
      break;
    case Case::left_insert:
      w.payment(id, kDay1, 1, due, payer, acct7);
      w.line(single_line(id, due + kFee));
      break;
    case Case::combined: {
      // The student and two siblings (numbers above every student's) paid by one payer.
      const bool students_known = combined_kind != 2;
      Cents total = kFee;
      for (int k = 0; k < 3; ++k) {
        const std::string sid = k == 0 ? id : student_number(30'000'000 + n * 2 + k);
        const Cents amount = due + Cents{k} * 5000;
        if (students_known) w.student(sid, n, false);
        w.payment(sid, kDay1, 1, amount, payer, acct7);
        total += amount;
      }
      const Cents paid = combined_kind == 1 ? total - 120000 : total;  // short: the walk spreads it
      w.line(DetailFields{kRocDay1, "0000000" + acct7, payer, paid, "1", id, "01", ""});
      break;
    }
    case Case::count:
      break;
  }
}

}  // namespace

std::optional<Error> make_demo_school(const SuitePaths& paths, std::int64_t students, DemoDay day,
                                      DemoFigures& figures) {
  try {
    auto db = store::Connection::open(paths);
    store::Transaction tx(db);
    db.execute(
        "INSERT INTO KIV2_School (tranidrive, tranidir) VALUES (NULL, NULL);"
        "INSERT INTO KIV6_Group (GrpID, GrpName) VALUES (1, '學費'), (3, '代辦費');"
        "INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 1), (0, '2004-10-15', 3), "
        "(0, '2004-11-15', 1);");
    DemoWriter writer(db);
    for (std::int64_t n = 0; n < students; ++n) {
      if (day == DemoDay::every_case) {
        add_student(writer, n, every_case(n), every_case_combined_kind(n));
      } else {
        add_student(writer, n, ordinary_case(n), 0);
      }
    }
    tx.commit();
    figures.students = students;
    figures.lines = writer.line_count();
    return writer.write_file(paths.staging_file());
  } catch (const store::DbError& e) {
    return e.error();
  }
}

}  // namespace kiv::cli
