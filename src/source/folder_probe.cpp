#include "source/folder_probe.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

namespace kiv::source {

FolderProbe probe_folder(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int number = errno;
    if (number == ENOENT) return {FolderState::missing, 0};
    return {FolderState::unavailable, number};
  }
  if (S_ISDIR(info.st_mode)) return {FolderState::present, 0};
  return {FolderState::unavailable, ENOTDIR};
}

std::optional<Error> ensure_folder(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return std::nullopt;
  std::filesystem::create_directories(path, ec);
  // create_directories reports success without creating anything when a
  // file already holds the name.
  if (!ec && !std::filesystem::is_directory(path, ec)) ec = std::make_error_code(std::errc::not_a_directory);
  if (ec) return Error{ec.value(), "無法建立資料夾 " + path + ": " + ec.message(), true};
  return std::nullopt;
}

}  // namespace kiv::source
