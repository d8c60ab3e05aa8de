#pragma once

// A stdio stream that hands out `data` and then fails with EIO, like a disk
// or a pulled floppy giving up in the middle of a file.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace kiv::testing {

inline std::FILE* failing_stream(std::string data) {
  struct Source {
    std::string data;
    std::size_t at = 0;
  };
  cookie_io_functions_t io{};
  io.read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
    auto* source = static_cast<Source*>(cookie);
    if (source->at >= source->data.size()) {
      errno = EIO;
      return -1;
    }
    const std::size_t n = std::min(size, source->data.size() - source->at);
    std::memcpy(buffer, source->data.data() + source->at, n);
    source->at += n;
    return static_cast<ssize_t>(n);
  };
  io.close = [](void* cookie) {
    delete static_cast<Source*>(cookie);
    return 0;
  };
  return fopencookie(new Source{std::move(data)}, "r", io);
}

}  // namespace kiv::testing
