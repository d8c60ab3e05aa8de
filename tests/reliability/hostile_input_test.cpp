#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "../run/run_fixture.h"
#include "child_run.h"
#include "store/statement.h"

namespace kiv::testing {
namespace {

using namespace std::string_literals;

constexpr const char* kStdid1 = "'--;\"";
constexpr const char* kStdid2 = "\";'--";
constexpr const char* kPayerId = "p'--;\"DROP";
constexpr const char* kAcct7 = "'--;\"x;";

std::string untouched(const RunFixture& f) {
  return f.query(
      "SELECT (SELECT group_concat(sql) FROM sqlite_master WHERE name NOT LIKE 'KIV27%') || (SELECT count(*) FROM "
      "KIV9_Payitem) || "
      "(SELECT group_concat(quote(stdid) || quote(delmark) || quote(grade)) FROM KIV7_Student) || "
      "(SELECT group_concat(quote(stdid) || quote(paystas) || quote(payway) || quote(payday) || quote(pay_record) || "
      "quote(failfac) || quote(realamt) || quote(unusual)) FROM (SELECT * FROM KIV8_Payment WHERE stdid LIKE 'V%' "
      "OR stdid IN ('D0001', 'E0001') ORDER BY stdid))");
}

std::string line_with(const std::string& stdid, std::size_t at, const std::string& bytes) {
  std::string line = import::format_detail({"0931015", "00000000000000", "", 10000, "0", stdid, "01", ""});
  return line.replace(at - 1, bytes.size(), bytes);
}

TEST(HostileInput, LinesAndPathMadeToBreakTheRunAreDataThatReachOnlyTheRecordsNamedAndAreLoggedByteForByte) {
  RunFixture f;
  {
    auto db = f.suite.open();
    for (const std::string id :
         {kStdid1, kStdid2, "C0001", "D0001", "E0001", "V0001", "V'--;", "10001", "10003", "B0001", "B0002"}) {
      const bool payer = id[0] == 'B';
      store::Statement(db, "INSERT INTO KIV7_Student (stdid, delmark, grade) VALUES (?1, 0, '3')").bind(1, id).run();
      store::Statement(db,
                       "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) "
                       "VALUES (?1, '2004-10-15', 1, ?2, 'OF' || ?3, ?4, 10)")
          .bind(1, id)
          .bind(2, payer ? kPayerId : id)
          .bind(3, payer ? kAcct7 : id)
          .bind(4, id == "B0002" ? 200
                   : payer       ? 100
                                 : 90)
          .run();
    }
    db.execute("INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 1)");
  }
  std::string megabyte(1 << 20, 'x');
  for (std::size_t i = 0; i < megabyte.size(); i += 4099) megabyte[i] = static_cast<char>(i % 256);
  std::replace(megabyte.begin(), megabyte.end(), '\n', 'n');
  f.detail(kStdid1, 10000);
  f.detail(kStdid2, 10000);
  f.detail("B0001", 31000, "", "1", kPayerId, std::string("0000000") + kAcct7);
  f.detail("C0001", 10000, "';");
  f.lines.push_back(import::format_detail({"0931015", "", "", 10000, "0", "D0001", "'-", ""}));
  f.lines.push_back(import::format_detail({"0931015", "", "", 10000, "0", "E0001", "1;", ""}));
  f.lines.push_back(line_with("10001", 2, "\0\0\xff\xfe\0\x80\xc3"s));
  f.lines.push_back(line_with("10002", 65, "100\0"s + "2"));
  f.lines.push_back(line_with("\xff\xfe\xfd\xfc\xfb", 34, "\xc3\x28\xa0\xa1\xe2\x82"));
  f.lines.push_back(line_with("10003", 56, "\r\x1b\x7f") + megabyte);
  f.lines.push_back(line_with("99999", 1, "1") + megabyte);
  const std::string path = f.suite.write_file("in/it's --; \"x\"/post'1003;--\".dat", slurp(f.write()));
  const std::string before = untouched(f);

  const auto r = import::confirm_run({f.suite.paths(), false, path}, f.op);
  EXPECT_EQ(r.outcome, import::RunOutcome::completed);
  EXPECT_EQ((std::vector<std::int64_t>{r.lines, r.ok, r.failed, r.errors}), (std::vector<std::int64_t>{11, 5, 1, 5}));
  ASSERT_EQ(f.op.messages.size(), 2u);
  EXPECT_TRUE(f.op.messages[0].text.ends_with("(13)")) << f.op.messages[0].text;
  EXPECT_EQ(f.query("SELECT group_concat(stdid, ' ') FROM (SELECT stdid FROM KIV8_Payment WHERE paystas<>0 AND "
                    "pay_record='1' ORDER BY stdid)"),
            std::string(kStdid2) + " " + kStdid1 + " 10001 10003 B0001 B0002");
  EXPECT_EQ(f.query("SELECT failfac FROM KIV8_Payment WHERE stdid='C0001'"), "';") << "stored exactly";
  EXPECT_EQ(untouched(f), before);
  const std::string none = import::log_text::kNoPaymentRecord;
  EXPECT_TRUE(f.log_lines(r) == (std::vector<std::string>{f.lines[4], none, f.lines[5], import::log_text::kWriteFailed,
                                                          f.lines[7], none, f.lines[8], none, f.lines[10], none}))
      << "the lines logged whole, the megabyte one too";

  f.op.messages.clear();
  kiv::import::confirm_run({f.suite.paths(), false, path + "'"}, f.op);
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text, "找 不 到 檔 案 ( " + path + "' )");
}

TEST(HostileInput, FileOfGigabytesIsCheckedInConstantMemory) {
  const char* large = std::getenv("KIV_LARGE_TESTS");
  const std::uintmax_t megabytes = large != nullptr && std::string(large) == "1" ? 3072 : 256;
  TempSuite scratch(false);
  struct statvfs disk {};
  ASSERT_EQ(statvfs(scratch.root().c_str(), &disk), 0);
  if ((static_cast<std::uintmax_t>(disk.f_bavail) * disk.f_frsize >> 20) < megabytes + megabytes / 10 + 512) {
    GTEST_SKIP() << "not enough free disk for a " << megabytes << " MB file";
  }
  const std::string path = scratch.root() + "/large.dat";
  const auto check = [&](std::uintmax_t mb) {
    const std::string line = import::format_detail({"0931015", "", "", 123456, "0", "10001", "01", ""}) + "\r\n";
    const auto lines = static_cast<std::int64_t>((mb << 20) / line.size());
    {
      std::ofstream out(path, std::ios::binary);
      for (std::int64_t i = 0; i < lines; ++i) out << line;
      out << import::format_trailer(lines, lines * 123456, lines, lines * 123456) << "\r\n";
      EXPECT_TRUE(out) << "cannot write " << path;
    }
    const ChildEnd end = run_child({{"check", "--json", path}, {}, {}, true}, scratch.root());
    std::filesystem::remove(path);
    EXPECT_TRUE(end.status == 0 && json_field(end.out, "accepted") == "true") << end.out;
    EXPECT_EQ(json_field(end.out, "lines"), std::to_string(lines));
    EXPECT_GT(end.peak_kib, 0) << "it ended before its memory could be read";
    std::printf("[ check ] %ju MB, %lld lines in %.1f s: peak resident %ld KiB\n", mb, static_cast<long long>(lines),
                end.seconds, end.peak_kib);
    return end.peak_kib;
  };
  const long small = check(16);
  EXPECT_LE(check(megabytes), small + 2048) << "memory grew with the file";
}

}  // namespace
}  // namespace kiv::testing
