// kiv2700 check, run as the operator or a script would run it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "temp_suite.h"

extern char** environ;

namespace {

struct ToolRun {
  int status = -1;
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the built tool with `args`, standard output and error caught in files.
ToolRun run_tool(const kiv::testing::TempSuite& suite, const std::vector<std::string>& args) {
  const std::string out_path = suite.root() + "/stdout.txt";
  const std::string err_path = suite.root() + "/stderr.txt";
  std::vector<std::string> all = {KIV_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  ToolRun run;
  const int spawned = posix_spawn(&pid, KIV_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << KIV_CLI_PATH;
    return run;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = slurp(out_path);
  run.err = slurp(err_path);
  return run;
}

// Fixed-width lines: amount at columns 44..54, failure code at 79..80,
// trailer's credited amount at 63..75.
std::string detail(const std::string& whole9, const std::string& hundredths2) {
  std::string line = "1000000000931015   00012345678901A123456789" + whole9 + hundredths2;
  line.resize(80, ' ');
  line.replace(64, 7, "1234501");
  return line;
}

std::string trailer(const std::string& posted11, const std::string& hundredths2) {
  std::string line = "2";
  line.resize(19, ' ');
  line += "0000001" + posted11 + hundredths2;  // file count and file amount
  line.resize(55, ' ');
  line += "0000001" + posted11 + hundredths2;  // credited count and amount
  line.resize(80, ' ');
  return line;
}

constexpr const char* kMalformed = "此 資 料 檔 格 式 不 符";

TEST(CheckCommand, AcceptedFileReportsItsFigures) {
  kiv::testing::TempSuite suite(false);
  const std::string file =
      suite.write_file("medi/post1003.dat", detail("000001500", "00") + "\r\n" + detail("000000012", "05") + "\r\n" +
                                                trailer("00000001512", "05") + "\r\n");

  ToolRun run = run_tool(suite, {"check", file});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("lines: 2\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("credited sum: 1512.05\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("trailer posted amount: 1512.05\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("trailer posted count: 1\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\naccepted\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");

  run = run_tool(suite, {"check", "--json", file});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "{\"accepted\":true,\"verdict\":\"accepted\",\"lines\":2,\"credited_sum\":\"1512.05\","
            "\"credited_total\":\"1512.05\",\"trailer\":{\"file_cnt\":1,\"file_amt\":\"1512.05\",\"posted_cnt\":1,"
            "\"posted_amt\":\"1512.05\"},\"messages\":[]}\n");
}

TEST(CheckCommand, RejectedFilesExitOneWithTheMessage) {
  kiv::testing::TempSuite suite(false);
  const std::string differ =
      suite.write_file("differ.dat", detail("000001500", "00") + "\r\n" + trailer("00000001500", "01") + "\r\n");
  ToolRun run = run_tool(suite, {"check", differ});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("credited sum: 1500.0\n"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("銷 帳 明 細 與 銷 帳 總 金 額 不 符\r\n\r\n請 檢 查 檔 案 內 容 是 否 正 確"),
            std::string::npos);

  const std::string bad_kind =
      suite.write_file("bad.dat", detail("000001500", "00") + "\r\n3" + detail("000001500", "00").substr(1) + "\r\n");
  run = run_tool(suite, {"check", bad_kind});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find(kMalformed), std::string::npos);
  EXPECT_EQ(run.err, std::string(kMalformed) + "\n");

  run = run_tool(suite, {"check", "--json", bad_kind});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.rfind("{\"accepted\":false,\"verdict\":\"malformed\",\"lines\":1,", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("\"trailer\":null"), std::string::npos);
  EXPECT_NE(run.out.find("\"messages\":[\"" + std::string(kMalformed) + "\"]}"), std::string::npos);

  run = run_tool(suite, {"check", "--json", differ});
  EXPECT_NE(run.out.find("\"verdict\":\"totals_differ\""), std::string::npos);
  EXPECT_NE(run.out.find("不 符\\r\\n\\r\\n請"), std::string::npos) << run.out;
}

TEST(CheckCommand, UnreadableFileOrBadArgumentsExitTwo) {
  kiv::testing::TempSuite suite(false);
  const std::string missing = suite.root() + "/medi/post1003.dat";
  ToolRun run = run_tool(suite, {"check", missing});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find(missing), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("No such file or directory"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");

  run = run_tool(suite, {"check", "--json", missing});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out.rfind("{\"accepted\":false,\"verdict\":\"error\",", 0), 0u) << run.out;

  EXPECT_EQ(run_tool(suite, {"check"}).status, 2);
  EXPECT_EQ(run_tool(suite, {"check", missing, missing}).status, 2);
  EXPECT_EQ(run_tool(suite, {"check", "--bogus", missing}).status, 2);
}

}  // namespace
