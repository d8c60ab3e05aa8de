#include "core/error.h"

namespace kiv {

std::string standard_error_text(const Error& error) {
  return "錯誤:" + error.description + "(" + std::to_string(error.number) + ")";
}

}  // namespace kiv
