#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "import/import_run.h"
#include "suite_state.h"

namespace kiv::testing {

using RunResult = import::RunResult;

// What an interrupted or failed run may leave behind is judged against a
// clean run of the same file on a copy of the same school: the database must
// equal the clean run's after some number k of detail lines, and the run's
// counters those of the clean run over its first k lines.

// For each target state, every k (0 up to the file's lines) after which the
// clean run's database equals it; empty when the target is no such state.
// One clean run, with the school copied under `scratch_root`.
std::vector<std::vector<std::int64_t>> clean_states_matching(const std::string& pristine_root, const std::string& file,
                                                             const std::vector<SuiteState>& targets,
                                                             const std::string& scratch_root);

// Writes the first k detail lines of `file` and a trailer that agrees with them.
void write_truncated_file(const std::string& file, std::int64_t k, const std::string& out_path);

// A clean run over the first k detail lines of `file`, on a copy of the school.
RunResult clean_run_of_first_lines(const std::string& pristine_root, const std::string& file, std::int64_t k,
                                   const std::string& scratch_root);

}  // namespace kiv::testing
