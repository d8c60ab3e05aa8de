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

// Fills a new suite folder's database with a school of about `students`
// students (grades, classes, fee groups, payment records on two transfer
// dates, combined transfers, records paid in cash, records with a second
// transfer date, agency rows) and writes medi/post1003.dat, whose lines
// reach every outcome of a run that data can reach.
std::optional<Error> make_demo_school(const SuitePaths& paths, std::int64_t students, DemoFigures& figures);

}  // namespace kiv::cli
