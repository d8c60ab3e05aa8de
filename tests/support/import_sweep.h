#pragma once

// A school and the collection file it posts, for fault sweeps and soaks.

#include <memory>
#include <string>
#include <vector>

#include "import/line_operations.h"

namespace kiv::testing::sweep {

// A school and the collection file it posts; every run works on a fresh
// copy of the school's folder.
struct ImportWork {
  std::string school, file;
  std::vector<std::string> lines;  // the file's detail lines
  std::shared_ptr<import::LineOperations> operations = std::make_shared<import::LineOperations>();

  // A demo school of about `students` lines of every kind data can reach.
  static ImportWork demo(const std::string& scratch, int students);
  void copy_school(const std::string& root) const;
  // A file of the first `count` detail lines, so that a run posts just those.
  void write_first_lines(const std::string& path, std::size_t count) const;
};

// A collection file of these detail lines with a trailer that agrees with them.
void write_collection(const std::string& path, const std::vector<std::string>& details);

}  // namespace kiv::testing::sweep
