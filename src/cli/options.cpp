#include "cli/options.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>

#include "cli/commands.h"
#include "core/text.h"

namespace kiv::cli {

namespace {

const OptionSpec* find_option(const Command& command, std::string_view name) {
  for (const OptionSpec& option : command.options) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

}  // namespace

Options parse_options(const std::vector<std::string>& args, const Command& command) {
  Options options;
  const auto fail = [&options](std::string problem) {
    if (options.error.empty()) options.error = std::move(problem);
  };
  bool operands_only = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (operands_only || !arg.starts_with("-") || arg == "-") {
      options.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      operands_only = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      continue;
    }
    // --name VALUE and --name=VALUE are the same.
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const OptionSpec* option = find_option(command, name);
    if (option == nullptr) {
      fail("unknown option " + name);
      continue;
    }
    std::string value;
    if (option->argument.empty()) {
      if (equals != std::string::npos) fail(name + " takes no value");
    } else if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      fail(name + " needs " + std::string(option->argument));
      continue;
    }
    if (name == "--root") {
      options.root = value;
    } else if (name == "--json") {
      options.json = true;
    } else {
      options.values[name] = value;
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

std::optional<long long> positive_number(const std::string& text, long long max) {
  long long value = 0;
  const char* end = text.data() + text.size();
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  const auto [stop, problem] = std::from_chars(text.data(), end, value);
  if (problem != std::errc() || stop != end || value < 1 || value > max) return std::nullopt;
  return value;
}

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
        } else if (const std::size_t length = utf8_length_at(text, i); length > 0) {
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
