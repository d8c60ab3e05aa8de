#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/paths.h"

namespace kiv::testing {

inline constexpr std::int64_t kDemoStudents = 3000;

// A demo school of kDemoStudents students made once per test program by
// `kiv2700 demo` (every kind of line), left untouched: tests copy it. Its
// collection file is the root's medi/post1003.dat.
const std::string& pristine_demo_school();

// Fills a suite with `students` students, each with one unpaid payment
// record on 2004-10-15 in group 1, and writes a collection file at
// `file_path` paying each exactly what is due, in student order: a school
// of ordinary single records, every line written off in full.
void make_single_record_school(const SuitePaths& paths, std::int64_t students, const std::string& file_path);

// The detail lines of a collection file, without line ends.
std::vector<std::string> detail_lines(const std::string& file);

}  // namespace kiv::testing
