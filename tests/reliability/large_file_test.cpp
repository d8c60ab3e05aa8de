// The validation pass reads a file of any size in constant memory. The
// default run checks a file of a few hundred megabytes; KIV_LARGE_TESTS=1
// checks one of several gigabytes (KIV_LARGE_FILE_MB, 3072 unless set),
// generated on the fly and removed afterwards.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "child_run.h"
#include "import/collection_writer.h"
#include "json_fields.h"
#include "temp_suite.h"

namespace kiv::testing {
namespace {

struct Generated {
  std::int64_t lines = 0;
  std::uintmax_t bytes = 0;
};

// Valid detail lines (a failed transfer now and then) up to `megabytes`,
// then a trailer that agrees with them.
Generated write_valid_file(const std::string& path, std::uintmax_t megabytes) {
  std::string block;
  Cents block_sum = 0, block_amt = 0;
  std::int64_t block_lines = 0, block_posted = 0;
  for (int i = 0; i < 4096; ++i) {
    const Cents amount = 100000 + (i % 997) * 13;
    const bool failed = i % 50 == 0;
    block += import::format_detail({i % 3 == 0 ? "931015" : "0931015", "00000001234567", "P000000001", amount, "0",
                                    std::to_string(10000 + i % 90000), "01", failed ? "01" : ""}) +
             "\r\n";
    ++block_lines;
    block_amt += amount;
    if (!failed) {
      ++block_posted;
      block_sum += amount;
    }
  }
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) throw std::runtime_error("cannot create " + path);
  Generated g;
  Cents sum = 0, amt = 0;
  std::int64_t posted = 0;
  while (g.bytes < megabytes << 20) {
    if (std::fwrite(block.data(), 1, block.size(), out) != block.size()) throw std::runtime_error("disk full");
    g.bytes += block.size();
    g.lines += block_lines;
    posted += block_posted;
    sum += block_sum;
    amt += block_amt;
  }
  const std::string trailer = import::format_trailer(g.lines, amt, posted, sum) + "\r\n";
  std::fwrite(trailer.data(), 1, trailer.size(), out);
  g.bytes += trailer.size();
  if (std::fclose(out) != 0) throw std::runtime_error("cannot write " + path);
  return g;
}

ChildEnd check(const std::string& path, const std::string& scratch) {
  return run_child({{"check", "--json", path}, scratch, {}, {}, true});
}

TEST(LargeFile, ValidationPassKeepsToConstantMemoryWhateverTheFileSize) {
  const char* large = std::getenv("KIV_LARGE_TESTS");
  const bool large_run = large != nullptr && std::string(large) == "1";
  const char* wanted = std::getenv("KIV_LARGE_FILE_MB");
  const std::uintmax_t megabytes = large_run ? (wanted != nullptr ? std::strtoull(wanted, nullptr, 10) : 3072) : 256;

  TempSuite scratch(false);
  struct statvfs disk {};
  ASSERT_EQ(statvfs(scratch.root().c_str(), &disk), 0);
  const std::uintmax_t free_mb = static_cast<std::uintmax_t>(disk.f_bavail) * disk.f_frsize >> 20;
  if (free_mb < megabytes + megabytes / 10 + 512) {
    GTEST_SKIP() << "a " << megabytes << " MB file needs more free disk than the " << free_mb << " MB there is";
  }

  const std::string small_path = scratch.root() + "/small.dat";
  const std::string large_path = scratch.root() + "/large.dat";
  const Generated s = write_valid_file(small_path, 16);
  const Generated g = write_valid_file(large_path, megabytes);

  const ChildEnd small = check(small_path, scratch.root());
  const ChildEnd big = check(large_path, scratch.root());
  std::filesystem::remove(large_path);
  ASSERT_EQ(big.status, 0) << big.out << big.err;
  EXPECT_NE(big.out.find("\"accepted\":true"), std::string::npos) << big.out;
  EXPECT_EQ(json_int(big.out, "lines"), g.lines);
  ASSERT_EQ(small.status, 0);
  ASSERT_GT(small.peak_rss_kib, 0) << "the small check ended before its memory could be read";
  ASSERT_GT(big.peak_rss_kib, 0);
  std::printf("[ check ] %.0f MB, %lld lines in %.1f s: peak resident %ld KiB (%ld KiB for %.0f MB)\n",
              static_cast<double>(g.bytes) / (1 << 20), static_cast<long long>(g.lines), big.elapsed.count(),
              big.peak_rss_kib, small.peak_rss_kib, static_cast<double>(s.bytes) / (1 << 20));
  EXPECT_LE(big.peak_rss_kib, small.peak_rss_kib + 2048)
      << "memory grew with the file: " << big.peak_rss_kib << " KiB against " << small.peak_rss_kib << " KiB";
}

}  // namespace
}  // namespace kiv::testing
