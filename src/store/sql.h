#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::store {

// The two stores a suite's database can live in.
enum class Dialect { file, server };

// A statement as the program writes it: once, in a small common SQL that both
// stores understand after rendering. Beyond plain SQL it knows
//   ?N           parameter N (numbered from 1; numbers may be left out)
//   CI(x)        x compared and ordered without regard to ASCII letter case;
//                both sides of a comparison say it (CI(a)=CI(?1)), since the
//                server folds each side it is written on
//   RIGHT(x,n)   the last n characters of x
//   NULLSFIRST   after an ORDER BY term: nulls sort before values
// The file store compares keys with NOCASE and sorts nulls first by itself;
// the server folds ASCII letters in the "C" collation and is told where nulls
// go, so that both select, join and order rows alike.
class Sql {
 public:
  explicit Sql(std::string text);
  Sql(const Sql&) = delete;
  Sql& operator=(const Sql&) = delete;

  const std::string& text() const { return text_; }
  // Distinct for every statement the program declares; the stores keep their
  // prepared statements by it.
  std::uint32_t id() const { return id_; }

 private:
  std::string text_;
  std::uint32_t id_;
};

// A statement rendered for one store. The server numbers its parameters
// without gaps: `slot[N]` is where parameter N goes (-1: not used).
struct RenderedSql {
  std::string text;
  std::vector<int> slot;
  int parameter_count = 0;
};

RenderedSql render(std::string_view text, Dialect dialect);

}  // namespace kiv::store
