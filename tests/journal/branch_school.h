#pragma once

#include <set>
#include <string>
#include <vector>

#include "db_snapshot.h"
#include "import/line_operations.h"
#include "journal/history.h"
#include "run_fixture.h"
#include "store/statement.h"

namespace kiv::testing {

// Stands in for the lookups where data alone cannot lead a line down a
// branch: a payment record the first lookup sees but that does not exist
// (the insert), a record found only as already paid (the write onto a paid
// record), and one found by neither write-off lookup (the write onto an
// existing record).
class BranchSeam : public import::LineOperations {
 public:
  std::set<std::string> phantom, repaid, onto;

  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    if (!phantom.contains(stdid)) return LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
    c.pay_state.clear();
    c.pay_way.clear();
    return found();
  }
  writeoff::LookupResult find_data(Session& s, Ctx& c, S day, S stdid, S grpid) override {
    if (repaid.contains(stdid) || onto.contains(stdid)) return {};
    return LineOperations::find_data(s, c, day, stdid, grpid);
  }
  writeoff::LookupResult find_data1(Session& s, Ctx& c, S day, S stdid, S grpid) override {
    if (repaid.contains(stdid)) return found();
    if (onto.contains(stdid)) return {};
    return LineOperations::find_data1(s, c, day, stdid, grpid);
  }

 private:
  static writeoff::LookupResult found() {
    writeoff::LookupResult r;
    r.value = writeoff::kTrue;
    return r;
  }
};

// The rows a run changed, as "table:op", each kind once, sorted.
inline std::set<std::string> change_kinds(store::Connection& db, std::int64_t run) {
  std::set<std::string> kinds;
  store::Statement st(db, "select table_name, op from KIV27_Change where run=?1");
  st.bind(1, run);
  while (st.step()) kinds.insert(st.text(0) + ":" + st.text(1));
  return kinds;
}

// The journal's lines of a run by outcome, "outcome=count" joined by blanks.
inline std::string line_outcomes(store::Connection& db, std::int64_t run) {
  std::string out;
  store::Statement st(db, "select outcome, count(*) from KIV27_Line where run=?1 group by outcome order by outcome");
  st.bind(1, run);
  while (st.step()) out += (out.empty() ? "" : " ") + st.text(0) + "=" + st.text(1);
  return out;
}

// A small school: students 10001-10009 with a record each on 2004-10-15,
// group 1, 1500 due plus a fee of 15, a fee item each, the agency row of
// the date not yet marked.
inline constexpr const char* kBranchSchool =
    "INSERT INTO KIV7_Student (stdid, delmark, grade, clsid, seatno) VALUES ('10001',0,'1','1','1'), "
    "('10002',0,'1','1','2'), ('10003',0,'1','1','3'), ('10004',1,'1','1','4'), ('10005',0,'1','1','5'), "
    "('10006',0,'1','1','6'), ('10007',0,'1','1','7'), ('10008',0,'1','1','8'), ('10009',0,'1','1','9');"
    "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) SELECT stdid, '2004-10-15', 1, "
    "'PAYER' || stdid, 'OF0' || stdid, 1500, 15 FROM KIV7_Student WHERE stdid <> '10009';"
    "INSERT INTO KIV9_Payitem (stdid, tranday, grpid) SELECT stdid, tranday, grpid FROM KIV8_Payment;"
    "INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 1), (0, '2004-11-15', 1);";

inline import::DetailFields paid(const std::string& stdid, Cents amount, const std::string& fail = "") {
  return import::DetailFields{"0931015", "00000000000000", "", amount, "0", stdid, "01", fail};
}

// Schools that lead lines down every branch of the dispatch, each with the
// kinds of change its run must make.
struct Branch {
  const char* name;
  std::string seed;  // after kBranchSchool
  std::vector<import::DetailFields> lines;
  std::set<std::string> expected;  // the kinds of change the journal must hold, exactly
  std::set<std::string> phantom = {}, repaid = {}, onto = {};
};

inline import::DetailFields combined(Cents amount, const std::string& fail = "") {
  return import::DetailFields{"0931015", "00000001234567", "PAYERC", amount, "1", "10001", "01", fail};
}

inline const char* const kCombinedPayer =
    "UPDATE KIV8_Payment SET acctid='PAYERC', offno='XX1234567' WHERE stdid IN ('10001','10002','10003');";
inline const char* const kSecondDate =
    "UPDATE KIV8_Payment SET tranday2='2004-11-15' WHERE stdid='10001';"
    "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee) VALUES ('10001', '2004-11-15', 1, 1500, 15);"
    "INSERT INTO KIV9_Payitem (stdid, tranday, grpid) VALUES ('10001', '2004-11-15', 1);";
// The only record of its date and group moves to its second date: the
// agency row of that date goes with it.
inline const char* const kLastOfItsDay =
    "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee, tranday2) VALUES "
    "('10009', '2004-10-15', 2, 800, 0, '2004-11-15'), ('10009', '2004-11-15', 2, 800, 0, NULL);"
    "INSERT INTO KIV9_Payitem (stdid, tranday, grpid) VALUES ('10009', '2004-10-15', 2), ('10009', '2004-11-15', 2);"
    "INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 2), (0, '2004-11-15', 2);";

// The kinds of change of a line that posts, and of one whose records move
// to their second date.
inline const std::set<std::string> kPosts = {"KIV8_Payment:update", "KIV10_Agency:update"};
inline const std::set<std::string> kMoves = {"KIV8_Payment:update", "KIV8_Payment:delete", "KIV9_Payitem:delete",
                                             "KIV10_Agency:update"};

inline const std::vector<Branch> kBranches = {
    {"paid in full, agency flag", "", {paid("10001", 151500)}, kPosts},
    {"differing amount", "", {paid("10002", 150000), paid("10004", 100)}, kPosts},
    {"one record paid twice", "", {paid("10002", 150000), paid("10002", 151500)}, kPosts},
    {"combined in full", kCombinedPayer, {combined(451500)}, kPosts},
    {"combined short and over", kCombinedPayer, {combined(351500), combined(461500)}, kPosts},
    {"second date", kSecondDate, {paid("10001", 151500)}, kMoves},
    {"second date, last record of its day",
     kLastOfItsDay,
     {import::DetailFields{"0931015", "00000000000000", "", 80000, "0", "10009", "02", ""}},
     {"KIV8_Payment:update", "KIV8_Payment:delete", "KIV9_Payitem:delete", "KIV10_Agency:delete"}},
    {"failed transfer", "", {paid("10003", 151500, "01")}, kPosts},
    {"failed combined transfer on a second date",
     std::string(kCombinedPayer) + kSecondDate +
         "UPDATE KIV8_Payment SET acctid='PAYERC', offno='XX1234567' WHERE stdid='10001' AND tranday='2004-11-15';",
     {combined(451500, "02")},
     kMoves},
    {"insert", "", {paid("10009", 120000)}, {"KIV8_Payment:insert", "KIV10_Agency:update"}, {"10009"}},
    {"write onto an existing record", "", {paid("10005", 120000)}, kPosts, {}, {}, {"10005"}},
    {"write onto a paid record", "", {paid("10006", 151500)}, kPosts, {}, {"10006"}},
    {"written onto twice", "", {paid("10005", 120000), paid("10005", 130000)}, kPosts, {"10005"}, {}, {"10005"}},
    {"agency marked before", "UPDATE KIV10_Agency SET PayStas=1", {paid("10001", 151500)}, {"KIV8_Payment:update"}},
    {"a logged line beside a posted one", "", {paid("99999", 100), paid("10001", 100)}, kPosts},
    {"nothing but logged lines", "", {paid("99999", 100)}, {}},
};

// Seeds a branch's school and writes its lines (into the fixture's file).
inline void prepare_branch(RunFixture& f, const Branch& b) {
  f.seed(std::string(kBranchSchool) + b.seed);
  for (const import::DetailFields& line : b.lines) f.lines.push_back(import::format_detail(line));
}

inline BranchSeam seam_for(const Branch& b) {
  BranchSeam seam;
  seam.phantom = b.phantom;
  seam.repaid = b.repaid;
  seam.onto = b.onto;
  return seam;
}

}  // namespace kiv::testing
