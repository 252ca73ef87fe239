// Making a publisher key pair.
#include "release/keygen.h"

#include <string.h>

#include "platform/files.h"
#include "platform/signing.h"
#include "release/key_file.h"
#include "release/output.h"

int Keygen(const std::wstring& key_file) {
  if (FileAttributes(key_file.c_str()) != NO_ATTRIBUTES) {
    Problem(L"%ls: exists already; keygen never overwrites a key", key_file.c_str());
    return 1;
  }
  KeyPair pair;
  if (!GenerateP256KeyPair(pair.public_key, pair.private_key)) {
    Problem(L"the system's cryptography could not make a P-256 key pair");
    return 1;
  }
  std::string text = KeyFileText(pair);
  memset(pair.private_key, 0, sizeof pair.private_key);
  // Created new: a key that appeared meanwhile is not overwritten either.
  FileHandle file = CreateNewFile(key_file.c_str());
  int ok = file != NO_FILE && WriteAll(file, text.data(), static_cast<uint32_t>(text.size())) &&
           FlushFile(file);
  CloseFile(file);
  std::fill(text.begin(), text.end(), '\0');
  if (!ok) {
    if (file != NO_FILE) DeleteOneFile(key_file.c_str());
    Problem(L"%ls: cannot be written", key_file.c_str());
    return 1;
  }
  // The public key alone on the standard output, for a script to take; the
  // advice goes to the error stream.
  Say(L"%ls", PublicKeyHex(pair.public_key).c_str());
  UsageError(L"private key written to %ls; keep it on the machine that signs releases only", key_file.c_str());
  UsageError(L"build the updater with -DRELEASE_PUBLIC_KEY=<the 128 digits above>, or use it as a root key "
             L"(-DRELEASE_ROOT_KEYS, kept offline) or as a signing key named by the keys command");
  return 0;
}
