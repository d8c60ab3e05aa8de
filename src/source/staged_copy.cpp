#include "source/staged_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kiv::source {

namespace {

Error file_error(int number, const std::string& path) {
  if (number == 0) number = EIO;  // a failure must never look like success
  return Error{number, path + ": " + std::strerror(number), true};
}

// An open file descriptor, closed by the destructor. close() reports the
// error a deferred write may only reveal at that point.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

// The temporary file's name, removed unless it was renamed into place.
class TempName {
 public:
  explicit TempName(std::string path) : path_(std::move(path)) {}
  TempName(const TempName&) = delete;
  TempName& operator=(const TempName&) = delete;
  ~TempName() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  const std::string& path() const { return path_; }
  void release() { path_.clear(); }

 private:
  std::string path_;
};

std::optional<Error> write_all(int fd, const char* data, std::size_t size, const std::string& path) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return file_error(errno, path);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return std::nullopt;
}

std::optional<Error> copy_bytes(int in, const std::string& from, int out, const std::string& temp) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got == 0) return std::nullopt;
    if (got < 0) {
      if (errno == EINTR) continue;
      return file_error(errno, from);
    }
    if (auto error = write_all(out, buffer, static_cast<std::size_t>(got), temp)) return error;
  }
}

}  // namespace

std::optional<Error> copy_replacing(const std::string& from, const std::string& to) {
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.valid()) return file_error(errno, from);
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) return file_error(errno, from);
  if (!S_ISREG(info.st_mode)) return file_error(S_ISDIR(info.st_mode) ? EISDIR : EINVAL, from);

  const std::filesystem::path target(to);
  std::string pattern = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  Fd out(::mkstemp(pattern.data()));
  if (!out.valid()) return file_error(errno, to);
  TempName temp(pattern);
  // mkstemp makes the file private; the staging copy is an ordinary file.
  ::fchmod(out.get(), 0644);

  if (auto error = copy_bytes(in.get(), from, out.get(), temp.path())) return error;
  if (::fsync(out.get()) != 0) return file_error(errno, temp.path());
  if (out.close() != 0) return file_error(errno, temp.path());
  if (::rename(temp.path().c_str(), to.c_str()) != 0) return file_error(errno, to);
  temp.release();
  return std::nullopt;
}

}  // namespace kiv::source
