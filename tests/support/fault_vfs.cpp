#include "fault_vfs.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace kiv::testing::fault {

namespace {

constexpr std::array<const char*, kCallKinds> kNames = {"open", "read",   "write",    "sync",   "truncate", "file_size",
                                                        "lock", "unlock", "reserved", "delete", "access"};
constexpr std::array<int, kCallKinds> kCodes = {
    SQLITE_CANTOPEN,     SQLITE_IOERR_READ,     SQLITE_IOERR_WRITE,
    SQLITE_IOERR_FSYNC,  SQLITE_IOERR_TRUNCATE, SQLITE_IOERR_FSTAT,
    SQLITE_IOERR_LOCK,   SQLITE_IOERR_UNLOCK,   SQLITE_IOERR_CHECKRESERVEDLOCK,
    SQLITE_IOERR_DELETE, SQLITE_IOERR_ACCESS};

struct State {
  std::atomic<bool> armed{false}, real_syncs{true};
  std::array<std::atomic<std::int64_t>, kCallKinds> calls{};
  std::atomic<std::int64_t> injected{0};
  std::optional<Fault> fault;
} state;

sqlite3_vfs* root_vfs = nullptr;

// Counts the call and says whether it is to fail.
bool fails(Call call) {
  if (!state.armed.load()) return false;
  const std::int64_t nth = ++state.calls[static_cast<std::size_t>(call)];
  if (!state.fault || state.fault->call != call) return false;
  const bool hit = state.fault->persistent ? nth >= state.fault->nth : nth == state.fault->nth;
  if (hit) ++state.injected;
  return hit;
}

struct FaultFile {
  sqlite3_file base;
  sqlite3_file* real;
};

sqlite3_file* real_of(sqlite3_file* file) {
  return reinterpret_cast<FaultFile*>(file)->real;
}

#define KIV_PASS(method) [](sqlite3_file* f, auto... a) { return real_of(f)->pMethods->method(real_of(f), a...); }
#define KIV_FAIL(call, method)                                                 \
  [](sqlite3_file* f, auto... a) {                                             \
    return fails(Call::call) ? kCodes[static_cast<std::size_t>(Call::call)]    \
                             : real_of(f)->pMethods->method(real_of(f), a...); \
  }

int x_read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
  sqlite3_file* real = real_of(file);
  if (!fails(Call::read)) return real->pMethods->xRead(real, buffer, amount, offset);
  if (state.fault->how != Failure::short_read) return SQLITE_IOERR_READ;
  std::memset(buffer, 0, static_cast<std::size_t>(amount));
  const int rc = amount / 2 > 0 ? real->pMethods->xRead(real, buffer, amount / 2, offset) : SQLITE_OK;
  return rc == SQLITE_OK ? SQLITE_IOERR_SHORT_READ : rc;
}

int x_write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
  sqlite3_file* real = real_of(file);
  const bool first = state.injected.load() == 0;
  if (!fails(Call::write)) return real->pMethods->xWrite(real, buffer, amount, offset);
  if (state.fault->how != Failure::disk_full) return SQLITE_IOERR_WRITE;
  // The disk fills during this write: part of it lands, and nothing after.
  if (first && amount / 2 > 0) (void)real->pMethods->xWrite(real, buffer, amount / 2, offset);
  return SQLITE_FULL;
}

int x_sync(sqlite3_file* file, int flags) {
  if (fails(Call::sync)) return SQLITE_IOERR_FSYNC;
  return state.real_syncs.load() ? real_of(file)->pMethods->xSync(real_of(file), flags) : SQLITE_OK;
}

int x_unlock(sqlite3_file* file, int level) {
  // A failed call that gives up a lock gives it up all the same: only the
  // report is a failure.
  const int rc = real_of(file)->pMethods->xUnlock(real_of(file), level);
  return fails(Call::unlock) ? SQLITE_IOERR_UNLOCK : rc;
}

// A wrapped file offers no more methods than the file below it has.
constexpr sqlite3_io_methods methods_of_version(int version) {
  sqlite3_io_methods m = {version,
                          KIV_PASS(xClose),
                          x_read,
                          x_write,
                          KIV_FAIL(truncate, xTruncate),
                          x_sync,
                          KIV_FAIL(file_size, xFileSize),
                          KIV_FAIL(lock, xLock),
                          x_unlock,
                          KIV_FAIL(reserved, xCheckReservedLock),
                          KIV_PASS(xFileControl),
                          KIV_PASS(xSectorSize),
                          KIV_PASS(xDeviceCharacteristics),
                          KIV_PASS(xShmMap),
                          KIV_PASS(xShmLock),
                          KIV_PASS(xShmBarrier),
                          KIV_PASS(xShmUnmap),
                          KIV_PASS(xFetch),
                          KIV_PASS(xUnfetch)};
  if (version < 2) m.xShmMap = nullptr, m.xShmLock = nullptr, m.xShmBarrier = nullptr, m.xShmUnmap = nullptr;
  if (version < 3) m.xFetch = nullptr, m.xUnfetch = nullptr;
  return m;
}

constexpr sqlite3_io_methods kMethods[] = {methods_of_version(1), methods_of_version(2), methods_of_version(3)};

int x_open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* out_flags) {
  auto* wrapped = reinterpret_cast<FaultFile*>(file);
  wrapped->base.pMethods = nullptr;
  wrapped->real = reinterpret_cast<sqlite3_file*>(wrapped + 1);
  if (fails(Call::open)) return SQLITE_CANTOPEN;
  const int rc = root_vfs->xOpen(root_vfs, name, wrapped->real, flags, out_flags);
  // SQLite closes a file only when it has methods: one the layer below
  // could not open has none.
  if (const sqlite3_io_methods* below = wrapped->real->pMethods) {
    wrapped->base.pMethods = &kMethods[std::clamp(below->iVersion, 1, 3) - 1];
  }
  return rc;
}

sqlite3_vfs fault_vfs = {};

}  // namespace

const char* name(Call call) {
  return kNames[static_cast<std::size_t>(call)];
}

std::string as_text(const Fault& fault) {
  const char* how = fault.how == Failure::disk_full ? ":full" : fault.how == Failure::short_read ? ":short" : "";
  return std::string(name(fault.call)) + ":" + std::to_string(fault.nth) + how + (fault.persistent ? ":after" : "");
}

std::optional<Fault> from_text(const std::string& text) {
  const auto colon = text.find(':');
  const auto call = std::find(kNames.begin(), kNames.end(), text.substr(0, colon));
  if (colon == std::string::npos || call == kNames.end()) return std::nullopt;
  // Only the form as_text writes is read.
  for (const Failure how : {Failure::io_error, Failure::disk_full, Failure::short_read}) {
    for (const bool persistent : {false, true}) {
      const Fault f{static_cast<Call>(call - kNames.begin()), std::atoll(text.c_str() + colon + 1), how, persistent};
      if (f.nth >= 1 && as_text(f) == text) return f;
    }
  }
  return std::nullopt;
}

void install() {
  static std::once_flag once;
  std::call_once(once, [] {
    root_vfs = sqlite3_vfs_find(nullptr);
    fault_vfs = *root_vfs;  // every other method is the default layer's own
    fault_vfs.pNext = nullptr;
    fault_vfs.zName = "kiv-fault";
    fault_vfs.szOsFile = static_cast<int>(sizeof(FaultFile)) + root_vfs->szOsFile;
    fault_vfs.xOpen = x_open;
    fault_vfs.xDelete = [](sqlite3_vfs*, const char* name, int sync_dir) {
      if (fails(Call::remove)) return SQLITE_IOERR_DELETE;
      return root_vfs->xDelete(root_vfs, name, state.real_syncs.load() ? sync_dir : 0);
    };
    fault_vfs.xAccess = [](sqlite3_vfs*, const char* name, int flags, int* out) {
      return fails(Call::access) ? SQLITE_IOERR_ACCESS : root_vfs->xAccess(root_vfs, name, flags, out);
    };
    sqlite3_vfs_register(&fault_vfs, 1);
  });
}

void sync_to_disk(bool really) {
  state.real_syncs = really;
}

void arm(std::optional<Fault> fault) {
  state.armed = false;
  for (auto& c : state.calls) c = 0;
  state.injected = 0;
  state.fault = fault;
  state.armed = true;
}

Counts counts() {
  Counts out{};
  for (std::size_t i = 0; i < kCallKinds; ++i) out[i] = state.calls[i].load();
  return out;
}

Counts disarm() {
  state.armed = false;
  return counts();
}

std::int64_t injected() {
  return state.injected.load();
}

}  // namespace kiv::testing::fault
