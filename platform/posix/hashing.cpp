// SHA-256 over OpenSSL's libcrypto (EVP).
#include "platform/hashing.h"

#include <openssl/evp.h>

int Sha256Begin(Sha256* state) {
  state->provider = nullptr;
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  state->hash = context;
  if (context == nullptr) return 0;
  return EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1 ? 1 : 0;
}

int Sha256Add(Sha256* state, const void* data, uint32_t count) {
  return EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(state->hash), data, count) == 1 ? 1 : 0;
}

int Sha256Finish(Sha256* state, unsigned char digest[32]) {
  unsigned int length = 0;
  return EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(state->hash), digest, &length) == 1 && length == 32 ? 1 : 0;
}

void Sha256End(Sha256* state) {
  if (state->hash != nullptr) EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(state->hash));
  state->hash = nullptr;
  state->provider = nullptr;
}
