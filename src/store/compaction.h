#pragma once

#include <optional>

#include "core/error.h"
#include "core/operator.h"
#include "core/paths.h"

namespace kiv::store {

// Names beside the database that a compaction by the suite's earlier programs
// may have left behind when it was interrupted.
inline constexpr const char* kCompactedCopyName = "kiv2700tmp.mdb";
inline constexpr const char* kBackupCopyName = "KIV1.mdb";

// Compacts the suite's database on the way out. The database is opened with
// the suite's password first (a file that is not the suite's database is
// refused and left alone). The compaction itself is SQLite's VACUUM on the
// file in place: it either completes or leaves the file as it was, and
// another program that has the file open keeps writing to the same file.
// Leftovers of an interrupted earlier compaction are deleted only after the
// compaction succeeded, since until then one of them may be the only good
// copy.
//
// A failure is shown once as the standard error message and returned, so
// the exit can go on. `busy_wait_ms` overrides how long another program's
// write may hold us up (the connection's usual wait when not given).
//
// A database on a server needs none: the server reclaims space itself, so on
// the server store this does nothing and shows nothing.
std::optional<Error> compress_mdb(const SuitePaths& paths, Operator& op,
                                  std::optional<int> busy_wait_ms = std::nullopt);

// Whether the suite folder's database is a file that compress_mdb compacts.
bool compaction_applies(const SuitePaths& paths);

}  // namespace kiv::store
