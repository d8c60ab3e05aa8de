#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/commands.h"
#include "cli/stream_operator.h"
#include "store/compaction.h"

namespace kiv::cli {

namespace {

std::uintmax_t size_of(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

}  // namespace

int run_compact(const Options& options) {
  if (!options.positional.empty()) return usage_error(*find_command("compact"), "no FILE is taken");
  const SuitePaths paths = suite_paths(options);
  if (paths.root.empty()) {
    std::fputs("kiv2700 compact: no suite folder (use --root DIR or KIV_ROOT)\n", stderr);
    return 2;
  }
  if (!store::compaction_applies(paths)) {
    std::puts("the database is on a server, which reclaims space itself: nothing to compact");
    return 0;
  }
  const std::uintmax_t before = size_of(paths.db_path());
  StreamOperator op;
  if (store::compress_mdb(paths, op)) return 2;  // the operator has shown the message
  std::printf("%s: %ju -> %ju bytes\n", paths.db_path().c_str(), before, size_of(paths.db_path()));
  return 0;
}

}  // namespace kiv::cli
