// ECDSA P-256 over bcrypt. Every status below zero is a failure.
#include "platform/signing.h"

#include <string.h>
#include <windows.h>
#include <bcrypt.h>

// A key blob: the CNG header, then X, Y and (for a private key) the secret.
struct P256Blob {
  BCRYPT_ECCKEY_BLOB header;
  unsigned char x_y_d[96];
};

// Opens the provider and imports a key of the given blob type; 0 when
// either fails. Whatever was obtained is released by CloseKey.
static int OpenKey(const P256Blob* blob, const wchar_t* blob_type, ULONG size, BCRYPT_ALG_HANDLE* provider,
                   BCRYPT_KEY_HANDLE* key) {
  *provider = nullptr;
  *key = nullptr;
  if (BCryptOpenAlgorithmProvider(provider, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0) {
    *provider = nullptr;
    return 0;
  }
  PUCHAR bytes = reinterpret_cast<PUCHAR>(const_cast<P256Blob*>(blob));
  if (BCryptImportKeyPair(*provider, nullptr, blob_type, key, bytes, size, 0) < 0) {
    *key = nullptr;
    return 0;
  }
  return 1;
}

static void CloseKey(BCRYPT_ALG_HANDLE provider, BCRYPT_KEY_HANDLE key) {
  if (key != nullptr) BCryptDestroyKey(key);
  if (provider != nullptr) BCryptCloseAlgorithmProvider(provider, 0);
}

// A public key blob for key.
static void PublicBlob(const unsigned char public_key[64], P256Blob* blob) {
  blob->header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  blob->header.cbKey = 32;
  memcpy(blob->x_y_d, public_key, 64);
}

int VerifyP256Signature(const unsigned char public_key[64], const unsigned char digest[32],
                        const unsigned char signature[64]) {
  P256Blob blob;
  PublicBlob(public_key, &blob);
  BCRYPT_ALG_HANDLE provider;
  BCRYPT_KEY_HANDLE key;
  int ok = OpenKey(&blob, BCRYPT_ECCPUBLIC_BLOB, sizeof blob.header + 64, &provider, &key);
  // The interface takes non-const pointers but does not write through them.
  if (ok) {
    ok = BCryptVerifySignature(key, nullptr, const_cast<PUCHAR>(digest), 32, const_cast<PUCHAR>(signature), 64, 0) >= 0;
  }
  CloseKey(provider, key);
  return ok;
}

int GenerateP256KeyPair(unsigned char public_key[64], unsigned char private_key[32]) {
  BCRYPT_ALG_HANDLE provider = nullptr;
  BCRYPT_KEY_HANDLE key = nullptr;
  int ok = BCryptOpenAlgorithmProvider(&provider, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) >= 0;
  if (!ok) provider = nullptr;
  if (ok) ok = BCryptGenerateKeyPair(provider, &key, 256, 0) >= 0;
  if (!ok) key = nullptr;
  if (ok) ok = BCryptFinalizeKeyPair(key, 0) >= 0;
  P256Blob blob;
  ULONG size = 0;
  if (ok) {
    ok = BCryptExportKey(key, nullptr, BCRYPT_ECCPRIVATE_BLOB, reinterpret_cast<PUCHAR>(&blob), sizeof blob, &size, 0) >= 0 &&
         size == sizeof blob && blob.header.cbKey == 32;
  }
  if (ok) {
    memcpy(public_key, blob.x_y_d, 64);
    memcpy(private_key, blob.x_y_d + 64, 32);
  }
  SecureZeroMemory(&blob, sizeof blob);
  CloseKey(provider, key);
  return ok;
}

int SignP256Digest(const unsigned char public_key[64], const unsigned char private_key[32],
                   const unsigned char digest[32], unsigned char signature[64]) {
  P256Blob blob;
  blob.header.dwMagic = BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
  blob.header.cbKey = 32;
  memcpy(blob.x_y_d, public_key, 64);
  memcpy(blob.x_y_d + 64, private_key, 32);
  BCRYPT_ALG_HANDLE provider;
  BCRYPT_KEY_HANDLE key;
  int ok = OpenKey(&blob, BCRYPT_ECCPRIVATE_BLOB, sizeof blob, &provider, &key);
  SecureZeroMemory(&blob, sizeof blob);
  ULONG size = 0;
  if (ok) {
    ok = BCryptSignHash(key, nullptr, const_cast<PUCHAR>(digest), 32, signature, 64, &size, 0) >= 0 && size == 64;
  }
  CloseKey(provider, key);
  return ok;
}
