// SHA-256 over bcrypt. Every status below zero is a failure.
#include "platform/hashing.h"

#include <windows.h>
#include <bcrypt.h>

int Sha256Begin(Sha256* state) {
  state->provider = nullptr;
  state->hash = nullptr;
  if (BCryptOpenAlgorithmProvider(&state->provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) {
    state->provider = nullptr;
    return 0;
  }
  if (BCryptCreateHash(state->provider, &state->hash, nullptr, 0, nullptr, 0, 0) < 0) {
    state->hash = nullptr;
    return 0;
  }
  return 1;
}

int Sha256Add(Sha256* state, const void* data, uint32_t count) {
  // The interface takes a non-const pointer but does not write through it.
  PUCHAR bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  return BCryptHashData(state->hash, bytes, count, 0) >= 0 ? 1 : 0;
}

int Sha256Finish(Sha256* state, unsigned char digest[32]) {
  return BCryptFinishHash(state->hash, digest, 32, 0) >= 0 ? 1 : 0;
}

void Sha256End(Sha256* state) {
  if (state->hash != nullptr) BCryptDestroyHash(state->hash);
  if (state->provider != nullptr) BCryptCloseAlgorithmProvider(state->provider, 0);
  state->hash = nullptr;
  state->provider = nullptr;
}
