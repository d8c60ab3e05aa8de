#include "fault_vfs.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

namespace kiv::testing::fault {

namespace {

constexpr std::array<const char*, kCallKinds> kNames = {"open", "read",   "write",    "sync",   "truncate", "file_size",
                                                        "lock", "unlock", "reserved", "delete", "access"};

struct State {
  std::atomic<bool> armed{false};
  std::array<std::atomic<std::int64_t>, kCallKinds> calls{};
  std::atomic<std::int64_t> injected{0};
  std::atomic<bool> real_syncs{true};
  std::optional<Fault> fault;
};

State& state() {
  static State s;
  return s;
}

sqlite3_vfs* root_vfs = nullptr;

// Counts the call and says whether it is to fail.
bool fails(Call call) {
  State& s = state();
  if (!s.armed.load()) return false;
  const std::int64_t nth = ++s.calls[static_cast<std::size_t>(call)];
  if (!s.fault || s.fault->call != call) return false;
  const bool hit = s.fault->persistent ? nth >= s.fault->nth : nth == s.fault->nth;
  if (hit) ++s.injected;
  return hit;
}

struct FaultFile {
  sqlite3_file base;
  sqlite3_file* real;
};

sqlite3_file* real_of(sqlite3_file* file) {
  return reinterpret_cast<FaultFile*>(file)->real;
}

int x_close(sqlite3_file* file) {
  sqlite3_file* real = real_of(file);
  return real->pMethods != nullptr ? real->pMethods->xClose(real) : SQLITE_OK;
}

int x_read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
  sqlite3_file* real = real_of(file);
  if (fails(Call::read)) {
    if (state().fault->how != Failure::short_read) return SQLITE_IOERR_READ;
    const int half = amount / 2;
    std::memset(buffer, 0, static_cast<std::size_t>(amount));
    if (half > 0) {
      const int rc = real->pMethods->xRead(real, buffer, half, offset);
      if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ) return rc;
    }
    return SQLITE_IOERR_SHORT_READ;
  }
  return real->pMethods->xRead(real, buffer, amount, offset);
}

int x_write(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
  sqlite3_file* real = real_of(file);
  const std::int64_t injected_before = state().injected.load();
  if (fails(Call::write)) {
    if (state().fault->how != Failure::disk_full) return SQLITE_IOERR_WRITE;
    // The disk fills during this write: part of it lands. Once full it stays
    // full, and later writes land nothing.
    if (injected_before == 0 && amount / 2 > 0) (void)real->pMethods->xWrite(real, buffer, amount / 2, offset);
    return SQLITE_FULL;
  }
  return real->pMethods->xWrite(real, buffer, amount, offset);
}

int x_truncate(sqlite3_file* file, sqlite3_int64 size) {
  sqlite3_file* real = real_of(file);
  if (fails(Call::truncate)) return SQLITE_IOERR_TRUNCATE;
  return real->pMethods->xTruncate(real, size);
}

int x_sync(sqlite3_file* file, int flags) {
  sqlite3_file* real = real_of(file);
  if (fails(Call::sync)) return SQLITE_IOERR_FSYNC;
  if (!state().real_syncs.load()) return SQLITE_OK;
  return real->pMethods->xSync(real, flags);
}

int x_file_size(sqlite3_file* file, sqlite3_int64* size) {
  sqlite3_file* real = real_of(file);
  if (fails(Call::file_size)) return SQLITE_IOERR_FSTAT;
  return real->pMethods->xFileSize(real, size);
}

int x_lock(sqlite3_file* file, int level) {
  sqlite3_file* real = real_of(file);
  if (fails(Call::lock)) return SQLITE_IOERR_LOCK;
  return real->pMethods->xLock(real, level);
}

int x_unlock(sqlite3_file* file, int level) {
  sqlite3_file* real = real_of(file);
  if (fails(Call::unlock)) {
    // The lock is let go all the same (a process's locks do not outlive a
    // failed call that gave them up); only the report is a failure.
    (void)real->pMethods->xUnlock(real, level);
    return SQLITE_IOERR_UNLOCK;
  }
  return real->pMethods->xUnlock(real, level);
}

int x_check_reserved(sqlite3_file* file, int* out) {
  sqlite3_file* real = real_of(file);
  if (fails(Call::reserved)) return SQLITE_IOERR_CHECKRESERVEDLOCK;
  return real->pMethods->xCheckReservedLock(real, out);
}

int x_file_control(sqlite3_file* file, int op, void* arg) {
  sqlite3_file* real = real_of(file);
  return real->pMethods->xFileControl(real, op, arg);
}

int x_sector_size(sqlite3_file* file) {
  sqlite3_file* real = real_of(file);
  return real->pMethods->xSectorSize(real);
}

int x_device_characteristics(sqlite3_file* file) {
  sqlite3_file* real = real_of(file);
  return real->pMethods->xDeviceCharacteristics(real);
}

int x_shm_map(sqlite3_file* file, int page, int size, int extend, void volatile** out) {
  sqlite3_file* real = real_of(file);
  return real->pMethods->xShmMap(real, page, size, extend, out);
}

int x_shm_lock(sqlite3_file* file, int offset, int n, int flags) {
  sqlite3_file* real = real_of(file);
  return real->pMethods->xShmLock(real, offset, n, flags);
}

void x_shm_barrier(sqlite3_file* file) {
  sqlite3_file* real = real_of(file);
  real->pMethods->xShmBarrier(real);
}

int x_shm_unmap(sqlite3_file* file, int remove) {
  sqlite3_file* real = real_of(file);
  return real->pMethods->xShmUnmap(real, remove);
}

int x_fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
  sqlite3_file* real = real_of(file);
  return real->pMethods->xFetch(real, offset, amount, out);
}

int x_unfetch(sqlite3_file* file, sqlite3_int64 offset, void* page) {
  sqlite3_file* real = real_of(file);
  return real->pMethods->xUnfetch(real, offset, page);
}

// One method table per version, so that SQLite asks a wrapped file for no
// more than the file below it has.
constexpr sqlite3_io_methods methods_of_version(int version) {
  return sqlite3_io_methods{version,
                            x_close,
                            x_read,
                            x_write,
                            x_truncate,
                            x_sync,
                            x_file_size,
                            x_lock,
                            x_unlock,
                            x_check_reserved,
                            x_file_control,
                            x_sector_size,
                            x_device_characteristics,
                            version >= 2 ? x_shm_map : nullptr,
                            version >= 2 ? x_shm_lock : nullptr,
                            version >= 2 ? x_shm_barrier : nullptr,
                            version >= 2 ? x_shm_unmap : nullptr,
                            version >= 3 ? x_fetch : nullptr,
                            version >= 3 ? x_unfetch : nullptr};
}

const sqlite3_io_methods kMethods[] = {methods_of_version(1), methods_of_version(2), methods_of_version(3)};

int x_open(sqlite3_vfs* /*vfs*/, const char* name, sqlite3_file* file, int flags, int* out_flags) {
  auto* wrapped = reinterpret_cast<FaultFile*>(file);
  wrapped->base.pMethods = nullptr;
  wrapped->real = reinterpret_cast<sqlite3_file*>(wrapped + 1);
  if (fails(Call::open)) return SQLITE_CANTOPEN;
  const int rc = root_vfs->xOpen(root_vfs, name, wrapped->real, flags, out_flags);
  // A file the layer below could not open has nothing to close: SQLite
  // closes it only when it has methods.
  if (wrapped->real->pMethods != nullptr) {
    const int version = wrapped->real->pMethods->iVersion;
    wrapped->base.pMethods = &kMethods[version >= 3 ? 2 : version < 1 ? 0 : version - 1];
  }
  return rc;
}

int x_delete(sqlite3_vfs* /*vfs*/, const char* name, int sync_dir) {
  if (fails(Call::remove)) return SQLITE_IOERR_DELETE;
  return root_vfs->xDelete(root_vfs, name, state().real_syncs.load() ? sync_dir : 0);
}

int x_access(sqlite3_vfs* /*vfs*/, const char* name, int flags, int* out) {
  if (fails(Call::access)) return SQLITE_IOERR_ACCESS;
  return root_vfs->xAccess(root_vfs, name, flags, out);
}

int x_full_pathname(sqlite3_vfs* /*vfs*/, const char* name, int size, char* out) {
  return root_vfs->xFullPathname(root_vfs, name, size, out);
}

void* x_dl_open(sqlite3_vfs* /*vfs*/, const char* name) {
  return root_vfs->xDlOpen(root_vfs, name);
}

void x_dl_error(sqlite3_vfs* /*vfs*/, int size, char* out) {
  root_vfs->xDlError(root_vfs, size, out);
}

void (*x_dl_sym(sqlite3_vfs* /*vfs*/, void* handle, const char* symbol))(void) {
  return root_vfs->xDlSym(root_vfs, handle, symbol);
}

void x_dl_close(sqlite3_vfs* /*vfs*/, void* handle) {
  root_vfs->xDlClose(root_vfs, handle);
}

int x_randomness(sqlite3_vfs* /*vfs*/, int size, char* out) {
  return root_vfs->xRandomness(root_vfs, size, out);
}

int x_sleep(sqlite3_vfs* /*vfs*/, int microseconds) {
  return root_vfs->xSleep(root_vfs, microseconds);
}

int x_current_time(sqlite3_vfs* /*vfs*/, double* out) {
  return root_vfs->xCurrentTime(root_vfs, out);
}

int x_get_last_error(sqlite3_vfs* /*vfs*/, int size, char* out) {
  return root_vfs->xGetLastError(root_vfs, size, out);
}

int x_current_time_int64(sqlite3_vfs* /*vfs*/, sqlite3_int64* out) {
  return root_vfs->xCurrentTimeInt64(root_vfs, out);
}

sqlite3_vfs fault_vfs = {};

}  // namespace

const char* name(Call call) {
  return kNames[static_cast<std::size_t>(call)];
}

std::optional<Call> call_named(const std::string& wanted) {
  for (std::size_t i = 0; i < kCallKinds; ++i) {
    if (wanted == kNames[i]) return static_cast<Call>(i);
  }
  return std::nullopt;
}

int result_code(const Fault& fault) {
  switch (fault.call) {
    case Call::open:
      return SQLITE_CANTOPEN;
    case Call::read:
      return fault.how == Failure::short_read ? SQLITE_IOERR_SHORT_READ : SQLITE_IOERR_READ;
    case Call::write:
      return fault.how == Failure::disk_full ? SQLITE_FULL : SQLITE_IOERR_WRITE;
    case Call::sync:
      return SQLITE_IOERR_FSYNC;
    case Call::truncate:
      return SQLITE_IOERR_TRUNCATE;
    case Call::file_size:
      return SQLITE_IOERR_FSTAT;
    case Call::lock:
      return SQLITE_IOERR_LOCK;
    case Call::unlock:
      return SQLITE_IOERR_UNLOCK;
    case Call::reserved:
      return SQLITE_IOERR_CHECKRESERVEDLOCK;
    case Call::remove:
      return SQLITE_IOERR_DELETE;
    case Call::access:
      return SQLITE_IOERR_ACCESS;
    case Call::count:
      break;
  }
  return SQLITE_IOERR;
}

std::string describe(const Fault& fault) {
  const char* how = fault.how == Failure::disk_full ? " disk full" : fault.how == Failure::short_read ? " short" : "";
  return std::string(name(fault.call)) + " #" + std::to_string(fault.nth) + how +
         (fault.persistent ? " and after" : "") + " (" + std::to_string(result_code(fault)) + ")";
}

std::string spec(const Fault& fault) {
  return std::string(name(fault.call)) + ":" + std::to_string(fault.nth) +
         (fault.how == Failure::disk_full    ? ":full"
          : fault.how == Failure::short_read ? ":short"
                                             : "") +
         (fault.persistent ? ":after" : "");
}

std::optional<Fault> from_spec(const std::string& text) {
  std::istringstream in(text);
  std::string part;
  if (!std::getline(in, part, ':')) return std::nullopt;
  const auto call = call_named(part);
  if (!call || !std::getline(in, part, ':')) return std::nullopt;
  Fault f{*call, std::strtoll(part.c_str(), nullptr, 10)};
  if (f.nth < 1) return std::nullopt;
  while (std::getline(in, part, ':')) {
    if (part == "full") {
      f.how = Failure::disk_full;
    } else if (part == "short") {
      f.how = Failure::short_read;
    } else if (part == "after") {
      f.persistent = true;
    } else {
      return std::nullopt;
    }
  }
  return f;
}

void install() {
  static std::once_flag once;
  std::call_once(once, [] {
    root_vfs = sqlite3_vfs_find(nullptr);
    fault_vfs.iVersion = root_vfs->iVersion >= 2 ? 2 : 1;
    fault_vfs.szOsFile = static_cast<int>(sizeof(FaultFile)) + root_vfs->szOsFile;
    fault_vfs.mxPathname = root_vfs->mxPathname;
    fault_vfs.zName = "kiv-fault";
    fault_vfs.xOpen = x_open;
    fault_vfs.xDelete = x_delete;
    fault_vfs.xAccess = x_access;
    fault_vfs.xFullPathname = x_full_pathname;
    fault_vfs.xDlOpen = x_dl_open;
    fault_vfs.xDlError = x_dl_error;
    fault_vfs.xDlSym = x_dl_sym;
    fault_vfs.xDlClose = x_dl_close;
    fault_vfs.xRandomness = x_randomness;
    fault_vfs.xSleep = x_sleep;
    fault_vfs.xCurrentTime = x_current_time;
    fault_vfs.xGetLastError = x_get_last_error;
    fault_vfs.xCurrentTimeInt64 = root_vfs->iVersion >= 2 ? x_current_time_int64 : nullptr;
    sqlite3_vfs_register(&fault_vfs, 1);
  });
}

void sync_to_disk(bool really) {
  state().real_syncs = really;
}

void arm(std::optional<Fault> fault) {
  State& s = state();
  s.armed = false;
  for (auto& c : s.calls) c = 0;
  s.injected = 0;
  s.fault = fault;
  s.armed = true;
}

Counts counts() {
  Counts out{};
  for (std::size_t i = 0; i < kCallKinds; ++i) out[i] = state().calls[i].load();
  return out;
}

Counts disarm() {
  state().armed = false;
  return counts();
}

std::int64_t injected() {
  return state().injected.load();
}

}  // namespace kiv::testing::fault
