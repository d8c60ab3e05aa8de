#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kiv::journal {

// SHA-256 over bytes given piece by piece, from OpenSSL's libcrypto.
class Sha256 {
 public:
  Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  ~Sha256();

  void update(std::string_view bytes);
  // The digest as 64 lowercase hex digits; nothing more is added after it.
  std::string hex_digest();
  std::uint64_t size() const { return size_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::uint64_t size_ = 0;
};

}  // namespace kiv::journal
