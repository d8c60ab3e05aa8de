#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cstdlib>
#include <fstream>

#include "import/collection_writer.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

TEST(LargeFile, FileOfGigabytesIsCheckedInConstantMemory) {
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
    const ToolRun end = run_tool(scratch.root(), {"check", "--json", path}, {{}, {}, true});
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
