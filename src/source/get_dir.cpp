#include <cstring>

#include "core/text.h"
#include "source/folder_probe.h"
#include "source/transfer_source.h"
#include "store/connection.h"
#include "store/db_error.h"
#include "store/statement.h"

namespace kiv::source {

namespace {

// A remembered folder that exists but cannot be looked at (no medium, I/O
// error...): the operator hears "disk not ready" rather than a raw reason.
struct DeviceUnavailable {
  Error error;
};

enum class Remembered { usable, gone };

Remembered check_folder(const std::string& dir) {
  const FolderProbe probe = probe_folder(dir);
  if (probe.state == FolderState::missing) return Remembered::gone;
  if (probe.state == FolderState::unavailable) {
    throw DeviceUnavailable{
        Error{kErrDeviceUnavailable, "裝置無法使用 " + dir + ": " + std::strerror(probe.error_number), true}};
  }
  return Remembered::usable;
}

SourceChoice remembered_source(const SuitePaths& paths, Operator& op, const SourceChoice& fallback) {
  store::Connection db = store::Connection::open(paths, [&op] { op.pump_events(); });
  // The school's table holds one row; rowid order makes "the first" stable.
  static const store::Sql kRemembered{"select tranidrive,tranidir from KIV2_School ORDER BY rowid"};
  store::Statement st(db, kRemembered);
  if (!st.step()) return fallback;
  const std::string drive = trim(st.text(0));
  const std::string dir = trim(st.text(1));

  if (dir.empty()) return fallback;
  if (check_folder(dir) == Remembered::gone) return fallback;
  // Without a remembered drive a folder as update_drive writes it (ending in
  // "/") shows only its drive, which on this system is the root.
  if (drive.empty() && dir.back() == '/') return {"/", dir};
  return {dir, dir};
}

}  // namespace

SourceChoice get_dir(const SuitePaths& paths, Operator& op) {
  SourceChoice fallback{paths.default_path(), paths.default_path()};
  std::string message;
  try {
    if (auto error = ensure_folder(paths.work_dir())) {
      message = standard_error_text(*error);
    } else {
      return remembered_source(paths, op, fallback);
    }
  } catch (const DeviceUnavailable&) {
    message = kDiskNotReadyText;
  } catch (const store::DbError& e) {
    message = standard_error_text(e.error());
  }
  op.show_message(message, MessageIcon::critical, kAppTitle);
  return fallback;
}

}  // namespace kiv::source
