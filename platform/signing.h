// ECDSA over the NIST P-256 curve from the platform's provider (CNG's
// bcrypt on Windows, OpenSSL's libcrypto on POSIX): the signature of a release manifest.
//
// Keys and signatures are plain big-endian numbers: a public key is the
// point's X and then Y coordinate, 32 bytes each; a private key is the
// 32-byte secret; a signature is r and then s, 32 bytes each. Nothing is
// cached between calls.
#pragma once

#include <stdint.h>

// 1 when signature is a valid signature of digest (a SHA-256 value) under
// public_key; 0 for any other signature, and when the key is no point of
// the curve or the provider fails.
int VerifyP256Signature(const unsigned char public_key[64], const unsigned char digest[32],
                        const unsigned char signature[64]);

// Makes a new key pair from the provider's own random numbers.
int GenerateP256KeyPair(unsigned char public_key[64], unsigned char private_key[32]);

// Signs digest with the key pair into signature.
int SignP256Digest(const unsigned char public_key[64], const unsigned char private_key[32],
                   const unsigned char digest[32], unsigned char signature[64]);
