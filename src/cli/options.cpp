#include "cli/options.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace kiv::cli {

Options parse_options(const std::vector<std::string>& args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") {
      options.json = true;
    } else if (args[i] == "--root") {
      if (i + 1 >= args.size()) {
        options.error = "--root needs a folder";
        return options;
      }
      options.root = args[++i];
    } else if (args[i].starts_with("--")) {
      options.error = "unknown option " + args[i];
      return options;
    } else {
      options.positional.push_back(args[i]);
    }
  }
  return options;
}

SuitePaths suite_paths(const Options& options) {
  if (options.root) return SuitePaths{*options.root};
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return SuitePaths{resolve_root(ec ? std::string() : exe.parent_path().string())};
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

}  // namespace kiv::cli
