#include "cli/options.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

namespace kiv::cli {

Options parse_options(const std::vector<std::string>& args, std::initializer_list<std::string_view> own) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    bool known = false;
    for (const std::string_view name : own) known = known || args[i] == name;
    if (known) {
      options.switches.emplace(args[i]);
    } else if (args[i] == "--json") {
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

namespace {

// Length of the well-formed UTF-8 sequence at `i`, or 0 when there is none.
std::size_t utf8_length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
          out += buffer;
        } else if (c < 0x80) {
          out += static_cast<char>(c);
        } else if (const std::size_t length = utf8_length(text, i); length > 0) {
          out.append(text, i, length);
          i += length - 1;
        } else {
          // A byte that is not UTF-8 (a path or a file in another encoding)
          // must not make the whole object unreadable.
          out += "\\ufffd";
        }
    }
  }
  return out + "\"";
}

}  // namespace kiv::cli
