#include "journal/sha256.h"

#include <openssl/evp.h>

#include <new>
#include <stdexcept>

namespace kiv::journal {

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
  bool finished = false;
  std::string hex;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->context = EVP_MD_CTX_new();
  if (state_->context == nullptr || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(state_->context);
    throw std::bad_alloc();
  }
}

Sha256::~Sha256() {
  EVP_MD_CTX_free(state_->context);
}

void Sha256::update(std::string_view bytes) {
  if (state_->finished || bytes.empty()) return;
  EVP_DigestUpdate(state_->context, bytes.data(), bytes.size());
  size_ += bytes.size();
}

std::string Sha256::hex_digest() {
  if (state_->finished) return state_->hex;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context, digest, &length) != 1) throw std::runtime_error("SHA-256 failed");
  state_->finished = true;
  static constexpr char kDigits[] = "0123456789abcdef";
  for (unsigned int i = 0; i < length; ++i) {
    state_->hex += kDigits[digest[i] >> 4];
    state_->hex += kDigits[digest[i] & 15];
  }
  return state_->hex;
}

}  // namespace kiv::journal
