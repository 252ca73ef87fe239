// The publisher's private key file: the SEC1 "EC PRIVATE KEY" form in PEM,
// the one OpenSSL writes for a P-256 key (openssl ecparam -genkey -name
// prime256v1 -noout) and reads back (openssl ec -in <file> -text), so that
// a key may be made, kept and used with either tool.
#pragma once

#include <string>

struct KeyPair {
  unsigned char public_key[64];   // X then Y, big-endian
  unsigned char private_key[32];  // the secret, big-endian
};

// The PEM text of a key pair.
std::string KeyFileText(const KeyPair& pair);

// Reads a key file. 0 after a problem has been printed.
int ReadKeyFile(const std::wstring& path, KeyPair* pair);

// 128 lowercase hexadecimal digits of a public key: the form of the
// RELEASE_PUBLIC_KEY build setting.
std::wstring PublicKeyHex(const unsigned char public_key[64]);
