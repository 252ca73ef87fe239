// The keygen command: a new publisher key pair.
#pragma once

#include <string>

// Writes a new private key to key_file, which must not exist, and prints
// the public key as the RELEASE_PUBLIC_KEY build setting takes it. Returns
// the exit code: 0 written, 1 refused or failed.
int Keygen(const std::wstring& key_file);
