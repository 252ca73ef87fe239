// SHA-256 from the platform's provider: CNG (bcrypt) on Windows, OpenSSL's
// libcrypto on POSIX.
//
// One Sha256 holds a provider and a hash object for the length of one
// digest; nothing is cached between digests.
#pragma once

#include <stdint.h>

struct Sha256 {
  void* provider;  // the algorithm provider; null until opened (unused on POSIX)
  void* hash;      // the hash object; null until created
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
