#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace kiv::testing::fault {

// The file-layer calls SQLite makes that a machine can fail.
enum class Call {
  open,
  read,
  write,
  sync,
  truncate,
  file_size,
  lock,
  unlock,
  reserved,  // the check whether another connection holds a write lock
  remove,
  access,
  count
};
inline constexpr std::size_t kCallKinds = static_cast<std::size_t>(Call::count);

const char* name(Call call);
std::optional<Call> call_named(const std::string& name);

// How the failing call fails, as a machine makes it fail.
enum class Failure {
  io_error,    // EIO: the SQLITE_IOERR_* of that call
  disk_full,   // a write: the first half lands, then ENOSPC (SQLITE_FULL)
  short_read,  // a read: the first half arrives, the rest is zeros
};

struct Fault {
  Call call = Call::write;
  std::int64_t nth = 1;  // the first call of that kind is 1
  Failure how = Failure::io_error;
  // A dying disk or a full one keeps failing: every later call of that kind
  // fails too. Otherwise only the nth call fails.
  bool persistent = false;
};

std::string describe(const Fault& fault);
// The fault as the preloaded fault layer reads it from KIV_FAULT:
// KIND:N[:full|short][:after], and back.
std::string spec(const Fault& fault);
std::optional<Fault> from_spec(const std::string& text);
// The result code the failing call returns.
int result_code(const Fault& fault);

using Counts = std::array<std::int64_t, kCallKinds>;

// Makes the fault layer the process's default file layer, wrapping the one
// that was the default. Idempotent. Until armed it only passes calls on.
void install();
// Whether a sync reaches the disk (it does unless told otherwise). A sweep
// that never loses power has nothing to gain from waiting on the disk; the
// sync calls are counted and failed all the same.
void sync_to_disk(bool really);
// Starts counting calls from zero and, with a fault, failing it.
void arm(std::optional<Fault> fault = std::nullopt);
// Stops counting and failing; returns the calls counted since arm().
Counts disarm();
Counts counts();
// How many calls were failed since arm().
std::int64_t injected();

}  // namespace kiv::testing::fault
