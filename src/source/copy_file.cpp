#include "source/staged_copy.h"
#include "source/transfer_source.h"

namespace kiv::source {

bool copy_file(const SuitePaths& paths, Operator& op) {
  const std::string floppy = floppy_file();
  if (!regular_file_exists(floppy)) {
    inform(op, kFloppyFileMissingText);
    return false;
  }
  if (auto error = copy_replacing(floppy, paths.staging_file())) {
    report_error(op, *error);
    return false;
  }
  return true;
}

}  // namespace kiv::source
