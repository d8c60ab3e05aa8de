#include "cli/shared_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kiv::cli {

std::optional<Error> share_with_folder_group(const std::string& path) {
  const auto fail = [&path](int number) {
    return Error{number, "無法設定權限 " + path + ": " + std::strerror(number), true};
  };
  struct stat folder {};
  const std::string parent = std::filesystem::path(path).parent_path().string();
  if (::stat(parent.empty() ? "." : parent.c_str(), &folder) != 0) return fail(errno);
  if ((folder.st_mode & S_ISGID) == 0) return std::nullopt;
  struct stat file {};
  if (::stat(path.c_str(), &file) != 0) return fail(errno);
  if (::chmod(path.c_str(), (file.st_mode & 07777) | S_IRGRP | S_IWGRP) != 0) return fail(errno);
  return std::nullopt;
}

}  // namespace kiv::cli
