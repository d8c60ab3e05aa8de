#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/error.h"
#include "core/paths.h"

namespace kiv::cli {

struct DemoFigures {
  std::int64_t students = 0;
  std::int64_t lines = 0;
};

// What the demo's collection file looks like.
enum class DemoDay {
  // An ordinary day: nearly every line posts; a few transfers failed at the
  // bank; a handful of lines end in the error log.
  ordinary,
  // Every outcome a run can reach from the data, in turn; half the lines end
  // in the error log. For tests and benchmarks.
  every_case,
};

// Fills a new suite folder's database with a school of about `students`
// students (grades, classes, fee groups, payment records on two transfer
// dates, combined transfers, records paid in cash, records with a second
// transfer date, agency rows) and writes medi/post1003.dat, one line per
// student, as `day` says.
std::optional<Error> make_demo_school(const SuitePaths& paths, std::int64_t students, DemoDay day,
                                      DemoFigures& figures);

}  // namespace kiv::cli
