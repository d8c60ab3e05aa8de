#pragma once

#include <span>
#include <string_view>

namespace kiv::store {

// The tables and columns of the suite's database that this program reads or
// writes. A database that lacks any of them is not the suite's: it is refused
// when opened, before anything is read or written.
struct SuiteTable {
  std::string_view name;
  std::span<const std::string_view> columns;
};

std::span<const SuiteTable> suite_tables();

}  // namespace kiv::store
