#include "core/paths.h"

#include <cstdlib>
#include <filesystem>

namespace kiv {

std::string root_from_executable_dir(const std::string& exe_dir) {
  return exe_dir.size() <= 4 ? std::string() : exe_dir.substr(0, exe_dir.size() - 4);
}

std::string resolve_root(const std::string& exe_dir) {
  const char* env = std::getenv("KIV_ROOT");
  if (env != nullptr && *env != '\0') return env;
  return root_from_executable_dir(exe_dir);
}

std::string floppy_dir() {
  const char* env = std::getenv("KIV_FLOPPY");
  if (env != nullptr && *env != '\0') return env;
  return "/media/floppy";
}

std::string floppy_file() {
  return floppy_dir() + "/post1003.dat";
}

bool folder_exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

bool regular_file_exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

}  // namespace kiv
