// Writes a valid collection file of N detail lines with a matching trailer,
// for measuring the validation pass on large files.
//   bench_gen_collection N OUTPUT
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "import/collection_writer.h"

namespace {

std::string digits(std::int64_t value, int width) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%0*lld", width, static_cast<long long>(value));
  return buffer;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: bench_gen_collection N OUTPUT\n", stderr);
    return 2;
  }
  char* end = nullptr;
  const long long count = std::strtoll(argv[1], &end, 10);
  if (*end != '\0' || count < 0) {
    std::fputs("bench_gen_collection: N must be a whole number\n", stderr);
    return 2;
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "bench_gen_collection: %s: %s\n", argv[2], std::strerror(errno));
    return 2;
  }

  kiv::Cents credited = 0;
  std::int64_t credited_count = 0;
  kiv::Cents all = 0;
  for (long long i = 0; i < count; ++i) {
    // Both date forms, varied hundredths, some combined and some failed lines.
    const std::string date = i % 2 == 0 ? "113" + digits(i % 12 + 1, 2) + digits(i % 28 + 1, 2)
                                        : "93" + digits(i % 12 + 1, 2) + digits(i % 28 + 1, 2);
    const kiv::Cents cents = 100 + (i * 7919) % 500000;
    const bool failed = i % 20 == 19;
    const std::string line =
        kiv::import::format_detail({date, digits(10000000000000 + i, 14), "A123456789", cents, i % 7 == 0 ? "1" : "0",
                                    digits(i % 100000, 5), digits(i % 20 + 1, 2), failed ? "01" : ""});
    if (!failed) {
      credited += cents;
      ++credited_count;
    }
    all += cents;
    std::fputs((line + "\r\n").c_str(), out);
  }
  const std::string trailer = kiv::import::format_trailer(count % 10000000, all, credited_count % 10000000, credited);
  std::fputs((trailer + "\r\n").c_str(), out);
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "bench_gen_collection: %s: %s\n", argv[2], std::strerror(errno));
    return 2;
  }
  return 0;
}
