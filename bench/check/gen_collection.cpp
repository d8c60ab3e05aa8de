// Writes a valid collection file of N detail lines with a matching trailer,
// for measuring the validation pass on large files.
//   bench_gen_collection N OUTPUT
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Writes `value` zero-padded to `width` digits at 1-based `column`.
void put_digits(std::string& line, std::size_t column, std::int64_t value, int width) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%0*lld", width, static_cast<long long>(value));
  line.replace(column - 1, static_cast<std::size_t>(width), digits);
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

  std::int64_t credited = 0;
  std::int64_t credited_count = 0;
  std::int64_t all = 0;
  std::string line;
  for (long long i = 0; i < count; ++i) {
    line.assign(80, ' ');
    line[0] = '1';
    put_digits(line, 2, i % 100000000, 8);
    if (i % 2 == 0) {
      put_digits(line, 10, 1130000 + (i % 12 + 1) * 100 + (i % 28 + 1), 7);  // yyyMMdd, 17..19 blank
    } else {
      put_digits(line, 10, 930000 + (i % 12 + 1) * 100 + (i % 28 + 1), 6);  // yyMMdd
      line.replace(15, 4, "0001");
    }
    put_digits(line, 20, 10000000000000 + i, 14);
    line.replace(33, 10, "A123456789");
    const std::int64_t cents = 100 + (i * 7919) % 500000;  // varied hundredths
    put_digits(line, 44, cents / 100, 9);
    put_digits(line, 53, cents % 100, 2);
    line[60] = i % 7 == 0 ? '1' : '0';
    put_digits(line, 65, i % 100000, 5);
    put_digits(line, 70, i % 20 + 1, 2);
    const bool failed = i % 20 == 19;
    if (failed) line.replace(78, 2, "01");
    if (!failed) {
      credited += cents;
      ++credited_count;
    }
    all += cents;
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), out);
  }

  line.assign(80, ' ');
  line[0] = '2';
  put_digits(line, 20, count % 10000000, 7);
  put_digits(line, 27, all / 100, 11);
  put_digits(line, 38, all % 100, 2);
  put_digits(line, 56, credited_count % 10000000, 7);
  put_digits(line, 63, credited / 100, 11);
  put_digits(line, 74, credited % 100, 2);
  line += "\r\n";
  std::fwrite(line.data(), 1, line.size(), out);
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "bench_gen_collection: %s: %s\n", argv[2], std::strerror(errno));
    return 2;
  }
  return 0;
}
