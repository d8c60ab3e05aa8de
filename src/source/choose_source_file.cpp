#include "source/transfer_source.h"

namespace kiv::source {

std::string choose_source_file(Operator& op, const std::string& dialog_dir, const std::string& path_text) {
  std::optional<std::string> chosen = op.choose_file(kChooseFileTitle, dialog_dir);
  return chosen ? *chosen : path_text;
}

}  // namespace kiv::source
