// Loaded into an unchanged kiv2700 with LD_PRELOAD by the fault tests, so
// that its exit status and output can be seen when a file call fails:
//   KIV_FAULT=KIND:N[:full|short][:after]   fail the Nth call of KIND (as
//       named by fault::name), as a full disk or a short read, and with
//       ":after" every later call of that kind too
//   KIV_FAULT_COUNTS=PATH   at exit, write "KIND COUNT" lines of the calls
//       made and "injected COUNT"
//   KIV_FAULT_NO_DISK_SYNC=1   syncs are counted and failed but skip the disk
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "fault_vfs.h"

namespace {

using namespace kiv::testing;

__attribute__((constructor)) void arm_from_environment() {
  const char* wanted = std::getenv("KIV_FAULT");
  if (wanted == nullptr && std::getenv("KIV_FAULT_COUNTS") == nullptr) return;
  const auto fault = wanted != nullptr ? fault::from_text(wanted) : std::nullopt;
  if (wanted != nullptr && !fault) {
    std::fprintf(stderr, "KIV_FAULT: cannot read '%s'\n", wanted);
    std::_Exit(125);
  }
  fault::install();
  if (const char* quick = std::getenv("KIV_FAULT_NO_DISK_SYNC"); quick != nullptr && *quick == '1') {
    fault::sync_to_disk(false);
  }
  fault::arm(fault);
}

__attribute__((destructor)) void write_counts() {
  const char* path = std::getenv("KIV_FAULT_COUNTS");
  std::FILE* out = path != nullptr ? std::fopen(path, "w") : nullptr;
  if (out == nullptr) return;
  const fault::Counts counts = fault::disarm();
  for (std::size_t i = 0; i < fault::kCallKinds; ++i) {
    std::fprintf(out, "%s %lld\n", fault::name(static_cast<fault::Call>(i)), static_cast<long long>(counts[i]));
  }
  std::fprintf(out, "injected %lld\n", static_cast<long long>(fault::injected()));
  std::fclose(out);
}

}  // namespace
