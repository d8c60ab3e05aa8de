#include "store/store_choice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "store/db_error.h"
#include "store/server/conninfo.h"

namespace kiv::store {

namespace {

constexpr std::size_t kLargestPgconn = std::size_t{64} * 1024;

const char* database_override() {
  const char* value = std::getenv("KIV_DATABASE");
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

[[noreturn]] void refuse(const std::string& path, const std::string& reason) {
  throw DbError(Error{kErrGeneralFailure, "無法開啟資料庫 " + path + ": " + reason, true});
}

struct FileText {
  std::string text;
  mode_t mode = 0;
};

FileText read_small_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) refuse(path, std::strerror(errno));
  FileText file;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > static_cast<off_t>(kLargestPgconn)) {
    ::close(fd);
    refuse(path, "不是一行連線字串的檔案");
  }
  file.mode = info.st_mode;
  char buffer[4096];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int number = errno;
      ::close(fd);
      refuse(path, std::strerror(number));
    }
    file.text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return file;
}

bool blank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// The one line of KIV.pgconn: a connection string or URI.
std::string connection_line(const std::string& path) {
  const FileText file = read_small_file(path);
  const std::size_t end = file.text.find('\n');
  std::string line = file.text.substr(0, end);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (end != std::string::npos && !blank(std::string_view(file.text).substr(end))) {
    refuse(path, "只能有一行連線字串");
  }
  if (blank(line)) refuse(path, "沒有連線字串");
  if (auto problem = server::conninfo_problem(line)) refuse(path, *problem);
  // A password is kept from other users as the file system lets it be.
  if (server::names_password(line) && (file.mode & S_IRWXO) != 0) {
    refuse(path, "檔案含有密碼,卻讓其他使用者也能讀取 (請執行 chmod o-rwx,或把密碼改放在 ~/.pgpass)");
  }
  return line;
}

}  // namespace

std::string pgconn_path(const SuitePaths& paths) {
  return paths.mdb_dir() + "/KIV.pgconn";
}

bool uses_server(const SuitePaths& paths) {
  struct stat info {};
  return database_override() != nullptr || ::stat(pgconn_path(paths).c_str(), &info) == 0 || errno != ENOENT;
}

StoreChoice choose_store(const SuitePaths& paths) {
  if (const char* uri = database_override()) {
    const std::string conninfo(uri);
    if (auto problem = server::conninfo_problem(conninfo)) refuse("KIV_DATABASE", *problem);
    return StoreChoice{Dialect::server, conninfo, server::without_password(conninfo)};
  }
  const std::string pgconn = pgconn_path(paths);
  struct stat info {};
  if (::stat(pgconn.c_str(), &info) == 0 || errno != ENOENT) {
    std::string conninfo = connection_line(pgconn);
    std::string shown = server::without_password(conninfo);
    return StoreChoice{Dialect::server, std::move(conninfo), std::move(shown)};
  }
  return StoreChoice{Dialect::file, paths.db_path(), paths.db_path()};
}

}  // namespace kiv::store
