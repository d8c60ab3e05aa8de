#include "import/error_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kiv::import {

namespace {

Error file_error(int err, const std::string& what, const std::string& path) {
  return Error{err, what + " " + path + ": " + std::strerror(err), true};
}

}  // namespace

std::string error_log_path(const std::string& work_dir, const std::tm& local_start) {
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local_start);
  return work_dir + "/err27_" + std::string(stamp).substr(3) + ".txt";
}

ErrorLog::~ErrorLog() {
  if (file_ != nullptr) std::fclose(file_);
}

std::optional<Error> ErrorLog::create() {
  const std::string stem = wanted_path_.substr(0, wanted_path_.size() - 4);  // less ".txt"
  for (int attempt = 0; attempt < 10000; ++attempt) {
    const std::string candidate = attempt == 0 ? wanted_path_ : stem + "_" + std::to_string(attempt) + ".txt";
    // O_EXCL: a name taken by any file or folder, even one made a moment ago, is never reused.
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST || errno == EISDIR) continue;
      return file_error(errno, "無法建立錯誤記錄檔", candidate);
    }
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
      const int err = errno;
      ::close(fd);
      return file_error(err, "無法建立錯誤記錄檔", candidate);
    }
    path_ = candidate;
    return std::nullopt;
  }
  return file_error(EEXIST, "無法建立錯誤記錄檔", wanted_path_);
}

std::optional<Error> ErrorLog::write(std::string_view detail_line, std::string_view message) {
  if (closed_) return file_error(EBADF, "錯誤記錄檔已關閉", path_);
  if (file_ == nullptr) {
    if (auto error = create()) return error;
  }
  std::string record;
  record.reserve(detail_line.size() + message.size() + 4);
  record.append(detail_line).append("\r\n").append(message).append("\r\n");
  errno = 0;
  if (std::fwrite(record.data(), 1, record.size(), file_) != record.size() || std::fflush(file_) != 0) {
    return file_error(errno != 0 ? errno : EIO, "無法寫入錯誤記錄檔", path_);
  }
  return std::nullopt;
}

std::optional<Error> ErrorLog::sync() {
  if (file_ == nullptr) return std::nullopt;
  if (std::fflush(file_) != 0 || ::fsync(::fileno(file_)) != 0) return file_error(errno, "無法寫入錯誤記錄檔", path_);
  return std::nullopt;
}

std::optional<Error> ErrorLog::close() {
  if (file_ == nullptr) return std::nullopt;
  std::optional<Error> error;
  if (std::fflush(file_) != 0 || ::fsync(::fileno(file_)) != 0) error = file_error(errno, "無法寫入錯誤記錄檔", path_);
  if (std::fclose(file_) != 0 && !error) error = file_error(errno, "無法寫入錯誤記錄檔", path_);
  file_ = nullptr;
  closed_ = true;
  return error;
}

}  // namespace kiv::import
