// SHA-256 from the platform's CNG provider (bcrypt).
//
// One Sha256 holds a provider and a hash object for the length of one
// digest; nothing is cached between digests.
#pragma once

#include <stdint.h>
#include <windows.h>
#include <bcrypt.h>

struct Sha256 {
  BCRYPT_ALG_HANDLE provider;  // null until opened
  BCRYPT_HASH_HANDLE hash;     // null until created
};

// Opens the SHA-256 provider and creates a plain (unkeyed) hash object whose
// memory the provider allocates. On 0, whatever was opened is recorded in
// state and still released by Sha256End.
int Sha256Begin(Sha256* state);

// Adds count bytes to the digest.
int Sha256Add(Sha256* state, const void* data, uint32_t count);

// Finishes the digest into 32 bytes.
int Sha256Finish(Sha256* state, unsigned char digest[32]);

// Destroys the hash object, then closes the provider; each only if present.
void Sha256End(Sha256* state);
