#pragma once

// A SQLite file layer for tests that fails the Nth call of one kind as a
// failing machine would. SQLCipher encrypts above it: it sees the file's
// real reads and writes.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace kiv::testing::fault {

enum class Call { open, read, write, sync, truncate, file_size, lock, unlock, reserved, remove, access, count };
inline constexpr std::size_t kCallKinds = static_cast<std::size_t>(Call::count);

const char* name(Call call);

enum class Failure {
  io_error,    // the SQLITE_IOERR_* of that call
  disk_full,   // a write: the first half lands, then SQLITE_FULL
  short_read,  // a read: the first half arrives, the rest is zeros
};

struct Fault {
  Call call = Call::write;
  std::int64_t nth = 1;  // the first call of that kind is 1
  Failure how = Failure::io_error;
  bool persistent = false;  // a dying or full disk: every later call of that kind fails too
};

// KIND:N[:full|short][:after], as the preloaded layer reads it from KIV_FAULT.
std::string as_text(const Fault& fault);
std::optional<Fault> from_text(const std::string& text);

using Counts = std::array<std::int64_t, kCallKinds>;

// Makes the layer the process's default, wrapping the one that was; until
// armed it only passes calls on.
void install();
// A sweep never loses power: its syncs are counted and failed, but need not
// wait for the disk.
void sync_to_disk(bool really);
// Counts calls from zero and, given a fault, fails it.
void arm(std::optional<Fault> fault = std::nullopt);
Counts disarm();  // the calls counted since arm()
Counts counts();
std::int64_t injected();  // calls failed since arm()

}  // namespace kiv::testing::fault
